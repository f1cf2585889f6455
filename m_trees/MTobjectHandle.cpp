#include "m_trees/MTobjectHandle.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "m_trees/TreeParameters.h"
#include "platform/Activation.h"
#include "platform/Assert.h"
#include "platform/Coding.h"
#include "platform/Guid.h"

namespace simdex {
namespace {

std::string HexCode(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

TreeParameters& Active() {
  TreeParameters* p = ActiveParameters();
  SIMDEX_ASSERT(p != nullptr, "ActiveParameters()!=NULL");
  return *p;
}

}  // namespace

MTobjectHandle::MTobjectHandle(ComPtr<IMTobject> plugin, std::uint32_t oid)
    : plugin_(std::move(plugin)), oid_(oid) {}

MTobjectHandle::~MTobjectHandle() = default;

Status MTobjectHandle::CreatePluginObject(const GUID& objectClass, DWORD classContext,
                                          ComPtr<IMTobject>* object) {
  HRESULT hr =
      CoCreateInstance(objectClass, nullptr, classContext, IID_IMTobject, object->PutVoid());
  if (SUCCEEDED(hr) && *object) return Status::OK();
  object->Reset();
  const std::string what =
      "cannot create an object of class " + FormatGuid(objectClass) + " (" + HexCode(hr) + ")";
  if (hr == E_NOINTERFACE) return Status::NotSupported(what + ": it is not an object plug-in");
  if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_DLLNOTFOUND || hr == CLASS_E_CLASSNOTAVAILABLE ||
      hr == REGDB_E_READREGDB || hr == REGDB_E_KEYMISSING || hr == REGDB_E_INVALIDVALUE) {
    return Status::NotFound(what);
  }
  return Status::IOError(what);
}

Status MTobjectHandle::CreatePlugin(ComPtr<IMTobject>* plugin) {
  TreeParameters* p = ActiveParameters();
  if (p == nullptr) return Status::FailedPrecondition("no index is active");
  return CreatePluginObject(p->objectClass, kClassContext, plugin);
}

Status MTobjectHandle::MakeEmpty(std::unique_ptr<MTobjectHandle>* handle) {
  handle->reset();
  ComPtr<IMTobject> plugin;
  SIMDEX_RETURN_IF_ERROR(CreatePlugin(&plugin));
  handle->reset(new MTobjectHandle(std::move(plugin), 0));
  return Status::OK();
}

Status MTobjectHandle::FromRecord(std::span<const std::byte> record,
                                  std::unique_ptr<MTobjectHandle>* handle) {
  handle->reset();
  ComPtr<IMTobject> plugin;
  SIMDEX_RETURN_IF_ERROR(CreatePlugin(&plugin));
  // The record comes from a page: make sure the object and the oid lie inside
  // it before the plug-in reads a byte, and again with the size the valued
  // object reports, which tells where the oid begins.
  auto fits = [&record](int size) {
    return size >= 0 && static_cast<std::size_t>(size) + kOidSize <= record.size();
  };
  int size = 0;
  plugin->compressedSize(&size);
  if (!fits(size)) {
    return Status::Corruption("object record of " + std::to_string(record.size()) +
                              " bytes for objects of " + std::to_string(size) + " bytes");
  }
  // initialize only reads the buffer; the interface just does not say const.
  plugin->initialize(
      const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(record.data())));
  plugin->compressedSize(&size);
  if (!fits(size)) {
    return Status::Corruption("object record of " + std::to_string(record.size()) +
                              " bytes for an object of " + std::to_string(size) + " bytes");
  }
  const auto* oid = reinterpret_cast<const unsigned char*>(record.data()) + size;
  handle->reset(new MTobjectHandle(std::move(plugin), DecodeFixed32(oid)));
  return Status::OK();
}

Status MTobjectHandle::CopyOf(const MTobjectHandle& other,
                              std::unique_ptr<MTobjectHandle>* handle) {
  handle->reset();
  ComPtr<IMTobject> plugin;
  SIMDEX_RETURN_IF_ERROR(CreatePlugin(&plugin));
  other.TransferValueTo(plugin.get());
  handle->reset(new MTobjectHandle(std::move(plugin), other.oid_));
  return Status::OK();
}

std::unique_ptr<MTobjectHandle> MTobjectHandle::Copy() const {
  std::unique_ptr<MTobjectHandle> copy;
  Status s = CopyOf(*this, &copy);
  SIMDEX_ASSERT(s.ok(), "plugin!=NULL");
  return copy;
}

std::int32_t MTobjectHandle::CompressedSize() const {
  int size = 0;
  plugin_->compressedSize(&size);
  SIMDEX_ASSERT(size >= 0, "compressedSize>=0");
  return size;
}

void MTobjectHandle::TransferValueTo(IMTobject* target) const {
  std::vector<unsigned char> buffer(static_cast<std::size_t>(CompressedSize()));
  int written = static_cast<int>(buffer.size());
  plugin_->compress(buffer.data(), &written);
  target->initialize(buffer.data());
}

void MTobjectHandle::WriteRecord(std::span<std::byte> record) const {
  const std::int32_t size = CompressedSize();
  SIMDEX_ASSERT(record.size() >= static_cast<std::size_t>(size) + kOidSize,
                "record.size()>=RecordSize()");
  auto* p = reinterpret_cast<unsigned char*>(record.data());
  int written = size;
  plugin_->compress(p, &written);
  // The oid goes after the bytes the plug-in says it wrote.
  SIMDEX_ASSERT(written >= 0 && static_cast<std::size_t>(written) + kOidSize <= record.size(),
                "written<=compressedSize");
  EncodeFixed32(p + written, oid_);
}

std::int32_t MTobjectHandle::RecordSize() const { return CompressedSize() + kOidSize; }

void MTobjectHandle::Assign(const MTobjectHandle& other) {
  if (&other == this) return;
  other.TransferValueTo(plugin_.get());
  oid_ = other.oid_;
}

int MTobjectHandle::SameObject(const MTobjectHandle& other) const {
  return oid_ == other.oid_ ? 1 : 0;
}

double MTobjectHandle::Distance(const MTobjectHandle& other) const {
  double d = 0.0;
  plugin_->distance(other.plugin_.get(), &d);
  if (CostCounters* counters = ActiveCounters()) {
    // A signed counter that wraps instead of overflowing after 2^31 calls.
    counters->computedDistances =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(counters->computedDistances) + 1u);
  }
  return d;
}

std::int32_t MTobjectHandle::PrototypeRecordSize() {
  TreeParameters& p = Active();
  SIMDEX_ASSERT(p.prototype, "prototype!=NULL");
  int size = 0;
  p.prototype->compressedSize(&size);
  SIMDEX_ASSERT(size >= 0, "compressedSize>=0");
  return size + kOidSize;
}

double MTobjectHandle::MaxDistance() { return Active().maxDistance; }

}  // namespace simdex
