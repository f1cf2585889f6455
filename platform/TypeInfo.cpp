#include "platform/TypeInfo.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <tuple>

#include "platform/ComPtr.h"
#include "platform/LastError.h"
#include "platform/ModuleResources.h"
#include "platform/Registry.h"

namespace simdex {
namespace {

// Registry subkey naming the module file of a library on this platform.
constexpr const char* kPlatformKey = "linux64";

HRESULT DupString(const std::string& s, BSTR* out) {
  if (!out) return S_OK;
  *out = SysAllocString(s.c_str());
  return *out ? S_OK : E_OUTOFMEMORY;
}

class TypeInfoObject final : public ITypeInfo {
 public:
  TypeInfoObject(std::shared_ptr<const TypeLibDescription> lib, const InterfaceDescription& itf)
      : lib_(std::move(lib)), itf_(itf) {
    params_.resize(itf_.methods.size());
    for (std::size_t i = 0; i < itf_.methods.size(); ++i) {
      const MethodDescription& m = itf_.methods[i];
      for (const auto& p : m.params)
        params_[i].push_back({p.name.c_str(), p.kind, p.retval, p.interfaceName.c_str()});
    }
    for (std::size_t i = 0; i < itf_.methods.size(); ++i) {
      const MethodDescription& m = itf_.methods[i];
      funcs_.push_back({m.id, m.name.c_str(), static_cast<unsigned>(params_[i].size()),
                        params_[i].data(), m.vtableIndex});
    }
  }

  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ITypeInfo) {
      *ppv = static_cast<ITypeInfo*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  HRESULT GetGuid(GUID* guid) override {
    if (!guid) return E_POINTER;
    *guid = itf_.iid;
    return S_OK;
  }
  HRESULT GetDocumentation(BSTR* name, BSTR* description) override {
    HRESULT hr = DupString(itf_.name, name);
    if (SUCCEEDED(hr)) hr = DupString(itf_.doc, description);
    return hr;
  }
  HRESULT GetFuncCount(unsigned* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<unsigned>(funcs_.size());
    return S_OK;
  }
  HRESULT GetFuncDesc(unsigned index, const FUNCDESC** desc) override {
    if (!desc) return E_POINTER;
    *desc = nullptr;
    if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *desc = &funcs_[index];
    return S_OK;
  }
  HRESULT GetIDsOfNames(const char* const* names, unsigned count, DISPID* ids) override {
    if ((!names || !ids) && count) return E_POINTER;
    if (count == 0) return S_OK;
    RegistryKey::NameLess less;
    auto same = [&](const char* a, const std::string& b) {
      return a && !less(a, b) && !less(b, a);
    };
    const MethodDescription* method = nullptr;
    for (const auto& m : itf_.methods)
      if (same(names[0], m.name)) method = &m;
    HRESULT hr = S_OK;
    ids[0] = method ? method->id : DISPID_UNKNOWN;
    if (!method) hr = DISP_E_UNKNOWNNAME;
    for (unsigned i = 1; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      if (method)
        for (std::size_t k = 0; k < method->params.size(); ++k)
          if (same(names[i], method->params[k].name)) ids[i] = static_cast<DISPID>(k);
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

 private:
  ~TypeInfoObject() = default;

  std::atomic<ULONG> refs_{0};
  std::shared_ptr<const TypeLibDescription> lib_;  // keeps itf_ alive
  const InterfaceDescription& itf_;
  std::vector<std::vector<PARAMDESC>> params_;
  std::vector<FUNCDESC> funcs_;
};

class TypeLibObject final : public ITypeLib {
 public:
  explicit TypeLibObject(std::shared_ptr<const TypeLibDescription> desc) : desc_(std::move(desc)) {}

  HRESULT QueryInterface(REFIID iid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ITypeLib) {
      *ppv = static_cast<ITypeLib*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  HRESULT GetLibAttr(GUID* libid, WORD* major, WORD* minor, LCID* lcid) override {
    if (libid) *libid = desc_->libid;
    if (major) *major = desc_->major;
    if (minor) *minor = desc_->minor;
    if (lcid) *lcid = desc_->lcid;
    return S_OK;
  }
  HRESULT GetDocumentation(BSTR* name, BSTR* description) override {
    HRESULT hr = DupString(desc_->name, name);
    if (SUCCEEDED(hr)) hr = DupString(desc_->doc, description);
    return hr;
  }
  HRESULT GetTypeInfoCount(unsigned* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<unsigned>(desc_->interfaces.size());
    return S_OK;
  }
  HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index >= desc_->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    return MakeInfo(desc_->interfaces[index], info);
  }
  HRESULT GetTypeInfoOfGuid(REFIID iid, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    for (const auto& itf : desc_->interfaces)
      if (itf.iid == iid) return MakeInfo(itf, info);
    return TYPE_E_ELEMENTNOTFOUND;
  }

 private:
  ~TypeLibObject() = default;

  HRESULT MakeInfo(const InterfaceDescription& itf, ITypeInfo** info) {
    try {
      auto* p = new TypeInfoObject(desc_, itf);
      p->AddRef();
      *info = p;
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  std::atomic<ULONG> refs_{0};
  std::shared_ptr<const TypeLibDescription> desc_;
};

std::string VersionKey(WORD major, WORD minor) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x.%x", major, minor);
  return buf;
}

std::string HexKey(LCID lcid) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x", lcid);
  return buf;
}

std::string LibraryKey(const GUID& libid) { return "TypeLib\\" + FormatGuid(libid); }

std::string DirName(const std::string& path) {
  auto pos = path.rfind('/');
  if (pos == std::string::npos) return ".";
  return pos == 0 ? "/" : path.substr(0, pos);
}

}  // namespace

HRESULT CreateTypeLib(std::shared_ptr<const TypeLibDescription> desc, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  if (!desc) return E_INVALIDARG;
  try {
    auto* p = new TypeLibObject(std::move(desc));
    p->AddRef();
    *lib = p;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT LoadTypeLibFromModule(const std::string& modulePath, REFIID libid, ITypeLib** lib) {
  if (!lib) return E_POINTER;
  *lib = nullptr;
  std::string what =
      "cannot load type library " + FormatGuid(libid) + " from '" + modulePath + "': ";
  ModuleResources resources;
  Status s = ModuleResources::ReadFromFile(modulePath, &resources);
  if (!s.ok()) return FailWith(TYPE_E_CANTLOADLIBRARY, what + s.ToString());
  for (const Resource* r : resources.FindAll(kTypeLibResource)) {
    auto desc = std::make_shared<TypeLibDescription>();
    s = ParseTypeLib(r->data, desc.get());
    if (!s.ok()) return FailWith(TYPE_E_CANTLOADLIBRARY, what + s.ToString());
    if (desc->libid == libid) return CreateTypeLib(std::move(desc), lib);
  }
  return FailWith(TYPE_E_CANTLOADLIBRARY, what + "the module does not hold it");
}

Status RegisterTypeLib(const TypeLibDescription& desc, const std::string& modulePath,
                       RegistryKey& root) {
  std::string base = LibraryKey(desc.libid) + "\\" + VersionKey(desc.major, desc.minor);
  RegistryKey* key = nullptr;
  SIMDEX_RETURN_IF_ERROR(root.Create(base, &key));
  key->SetDefaultValue(desc.doc);
  RegistryKey* sub = nullptr;
  SIMDEX_RETURN_IF_ERROR(key->Create(HexKey(desc.lcid) + "\\" + kPlatformKey, &sub));
  sub->SetDefaultValue(modulePath);
  SIMDEX_RETURN_IF_ERROR(key->Create("FLAGS", &sub));
  sub->SetDefaultValue("0");
  SIMDEX_RETURN_IF_ERROR(key->Create("HELPDIR", &sub));
  sub->SetDefaultValue(DirName(modulePath));
  return Status::OK();
}

Status UnRegisterTypeLib(const TypeLibDescription& desc, const std::string& modulePath,
                         RegistryKey& root) {
  std::string libKey = LibraryKey(desc.libid);
  std::string version = VersionKey(desc.major, desc.minor);
  RegistryKey* lib = root.Find(libKey);
  if (!lib) return Status::OK();
  const RegistryKey* file = lib->Find(version + "\\" + HexKey(desc.lcid) + "\\" + kPlatformKey);
  if (!file || !file->DefaultValue() || *file->DefaultValue() != modulePath) return Status::OK();
  lib->Remove(version);
  if (lib->IsEmpty()) root.Remove(libKey);
  return Status::OK();
}

}  // namespace simdex

namespace simdex {
namespace {

HRESULT LoadRegistered(REFIID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  static std::mutex mu;
  static std::map<std::tuple<std::string, WORD, WORD>, ComPtr<ITypeLib>> cache;
  std::lock_guard<std::mutex> lock(mu);
  auto cacheKey = std::make_tuple(FormatGuid(libid), major, minor);
  if (auto it = cache.find(cacheKey); it != cache.end()) {
    it->second->AddRef();
    *lib = it->second.get();
    return S_OK;
  }

  Registry registry;
  Status s = Registry::OpenDefault(&registry);
  RegistryKey root;
  if (s.ok()) s = registry.Read(&root);
  if (!s.ok()) return FailWith(REGDB_E_READREGDB, s.ToString());
  std::string name = FormatGuid(libid) + " " + VersionKey(major, minor);
  const RegistryKey* version = root.Find(LibraryKey(libid) + "\\" + VersionKey(major, minor));
  const RegistryKey* locale = nullptr;
  if (version) {
    locale = version->Find(HexKey(lcid));
    if (!locale) locale = version->Find("0");
    // Else any locale that has a module for this platform.
    for (const auto& [key, sub] : version->subkeys())
      if (!locale && sub->Find(kPlatformKey)) locale = sub.get();
  }
  const RegistryKey* file = locale ? locale->Find(kPlatformKey) : nullptr;
  if (!file || !file->DefaultValue())
    return FailWith(TYPE_E_LIBNOTREGISTERED,
                    "type library " + name + " is not registered in '" + registry.path() + "'");
  ComPtr<ITypeLib> loaded;
  HRESULT hr = LoadTypeLibFromModule(*file->DefaultValue(), libid, loaded.Put());
  if (FAILED(hr)) return hr;
  WORD gotMajor = 0, gotMinor = 0;
  loaded->GetLibAttr(nullptr, &gotMajor, &gotMinor, nullptr);
  if (gotMajor != major || gotMinor != minor)
    return FailWith(TYPE_E_CANTLOADLIBRARY, "type library " + name + " in '" +
                                                *file->DefaultValue() + "' has another version");
  loaded->AddRef();
  *lib = loaded.get();
  cache.emplace(cacheKey, std::move(loaded));
  return S_OK;
}

}  // namespace
}  // namespace simdex

HRESULT LoadRegTypeLib(REFIID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  simdex::ClearLastErrorText();
  if (!lib) return E_POINTER;
  *lib = nullptr;
  return simdex::GuardHResult(
      [&] { return simdex::LoadRegistered(libid, major, minor, lcid, lib); });
}
