#include "tools/simdex/IndexSession.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "SimdexDLL/Simdex.h"
#include "m_trees/MetricTree.h"
#include "platform/Activation.h"
#include "platform/Coding.h"
#include "platform/ComObject.h"
#include "platform/LastError.h"
#include "platform/Registry.h"

namespace simdex::cli {
namespace {

namespace fs = std::filesystem;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// The service reports a failed status as "<kind>: <message>"; the kind is
// carried by the status code instead.
std::string WithoutKind(std::string text) {
  static const char* const kKinds[] = {
      "Not found: ",     "Corruption: ",          "IO error: ",      "Invalid argument: ",
      "Not supported: ", "Failed precondition: ", "Already exists: "};
  for (const char* kind : kKinds) {
    const std::string prefix = kind;
    if (text.compare(0, prefix.size(), prefix) == 0) return text.substr(prefix.size());
  }
  return text;
}

std::string RegistryName() {
  std::string path;
  if (!Registry::DefaultPath(&path).ok()) return "the registry";
  return path;
}

bool ReadFile(const std::string& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A new object of clsid through the platform, as the engine makes them.
Status NewObject(const GUID& clsid, const std::string& name, ComPtr<IMTobject>* object) {
  HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMTobject, object->PutVoid());
  if (SUCCEEDED(hr)) return Status::OK();
  const std::string detail = LastErrorText().empty() ? Hex(hr) : LastErrorText();
  if (hr == REGDB_E_CLASSNOTREG) {
    return Status::NotFound("class " + name + " is not registered in " + RegistryName() +
                            ": run `simdex register`");
  }
  return Status::NotSupported("cannot create an object of class " + name + ": " + detail);
}

// Doubles per object of the class: its byte form must be whole doubles.
Status DimensionOf(const GUID& clsid, const std::string& name, int* dimension) {
  ComPtr<IMTobject> object;
  SIMDEX_RETURN_IF_ERROR(NewObject(clsid, name, &object));
  int size = 0;
  const HRESULT hr = object->compressedSize(&size);
  if (FAILED(hr)) return ServiceStatus("the class's compressedSize", hr);
  if (size <= 0 || size % 8 != 0) {
    return Status::NotSupported("objects of class " + name + " have a byte form of " +
                                std::to_string(size) +
                                " bytes, not a whole number of doubles: this command handles "
                                "vector classes only");
  }
  *dimension = size / 8;
  return Status::OK();
}

// The class recorded by Create in dir.
Status ReadClassFile(const std::string& dir, GUID* clsid, std::string* name) {
  const std::string file = MetricTree::FileIn(dir, IndexSession::kClassFile);
  std::string content;
  if (!ReadFile(file, &content)) {
    return Status::NotFound(dir + " does not say which object class its index holds (no " +
                            IndexSession::kClassFile + "): pass --class NAME");
  }
  std::istringstream lines(content);
  std::string first;
  std::string second;
  std::getline(lines, first);
  std::getline(lines, second);
  auto strip = [](std::string* s) {
    while (!s->empty() && (s->back() == '\r' || s->back() == ' ')) s->pop_back();
  };
  strip(&first);
  strip(&second);
  auto parsed = ParseGuid(first);
  if (!parsed) {
    return Status::Corruption(file + ": the first line is not a class identifier: pass --class " +
                              "NAME");
  }
  *clsid = *parsed;
  *name = second.empty() ? FormatGuid(*parsed) : second;
  return Status::OK();
}

Status WriteClassFile(const std::string& dir, const GUID& clsid, const std::string& name) {
  const std::string file = MetricTree::FileIn(dir, IndexSession::kClassFile);
  std::ofstream out(file, std::ios::out | std::ios::trunc);
  out << FormatGuid(clsid) << '\n' << name << '\n';
  out.close();
  if (!out) return Status::IOError("cannot write " + file);
  return Status::OK();
}

}  // namespace

Status ResolveClass(const std::string& text, GUID* clsid) {
  if (auto braced = ParseGuid(text)) {
    *clsid = *braced;
    return Status::OK();
  }
  std::string progid = text;
  if (text == "VectorA") progid = "VectorA.VectorAObject";
  if (text == "VectorB") progid = "VectorB.VectorBObject";
  const HRESULT hr = CLSIDFromProgID(progid.c_str(), clsid);
  if (SUCCEEDED(hr)) return Status::OK();
  if (hr == CO_E_CLASSSTRING) {
    return Status::NotFound("no class '" + text + "' in " + RegistryName() +
                            ": run `simdex register`, or give a registered ProgID or a braced "
                            "class identifier");
  }
  return Status::NotFound("cannot look up class '" + text +
                          "': " + (LastErrorText().empty() ? Hex(hr) : LastErrorText()));
}

Status ServiceStatus(const std::string& what, HRESULT hr) {
  std::string text = LastErrorText().empty() ? "status " + Hex(hr) : WithoutKind(LastErrorText());
  std::string message = what + ": " + text;
  switch (hr) {
    case E_INVALIDARG:
    case E_POINTER:
      return Status::InvalidArgument(std::move(message));
    case E_UNEXPECTED:
      return Status::FailedPrecondition(std::move(message));
    case STG_E_FILENOTFOUND:
    case STG_E_PATHNOTFOUND:
    case REGDB_E_CLASSNOTREG:
    case CO_E_DLLNOTFOUND:
      return Status::NotFound(std::move(message));
    case STG_E_DOCFILECORRUPT:
      return Status::Corruption(std::move(message));
    case E_NOTIMPL:
      return Status::NotSupported(std::move(message));
    case STG_E_FILEALREADYEXISTS:
      return Status::AlreadyExists(std::move(message));
    default:
      return Status::IOError(std::move(message));
  }
}

struct IndexSession::Rep {
  std::string directory;
  GUID clsid{};
  std::string className;
  int dimension = 0;
  ComPtr<ISimdex> service;
};

IndexSession::IndexSession() : rep_(std::make_unique<Rep>()) {}
IndexSession::~IndexSession() = default;

Status IndexSession::Create(const std::string& dir, const std::string& objectClass,
                            double maxDistance, std::unique_ptr<IndexSession>* session) {
  std::unique_ptr<IndexSession> s(new IndexSession());
  Rep& r = *s->rep_;
  r.directory = dir;
  r.className = objectClass;
  SIMDEX_RETURN_IF_ERROR(ResolveClass(objectClass, &r.clsid));
  SIMDEX_RETURN_IF_ERROR(DimensionOf(r.clsid, objectClass, &r.dimension));
  HRESULT hr = ComObject<Simdex>::Create(nullptr, IID_ISimdex, r.service.PutVoid());
  if (FAILED(hr)) return ServiceStatus("cannot make the index service", hr);
  std::string path = dir;
  hr = r.service->Create(reinterpret_cast<unsigned char*>(path.data()), maxDistance, r.clsid);
  if (FAILED(hr)) return ServiceStatus("cannot create an index in " + dir, hr);
  SIMDEX_RETURN_IF_ERROR(WriteClassFile(dir, r.clsid, objectClass));
  *session = std::move(s);
  return Status::OK();
}

Status IndexSession::Open(const std::string& dir, const std::string& objectClass,
                          std::unique_ptr<IndexSession>* session) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Status::NotFound("no directory " + dir);
  if (!fs::exists(MetricTree::FileIn(dir, MetricTree::kIndexFile), ec)) {
    return Status::NotFound("no index in " + dir + " (" + MetricTree::kIndexFile +
                            " is missing): make one with `simdex create`");
  }
  std::unique_ptr<IndexSession> s(new IndexSession());
  Rep& r = *s->rep_;
  r.directory = dir;
  if (objectClass.empty()) {
    SIMDEX_RETURN_IF_ERROR(ReadClassFile(dir, &r.clsid, &r.className));
  } else {
    r.className = objectClass;
    SIMDEX_RETURN_IF_ERROR(ResolveClass(objectClass, &r.clsid));
  }
  SIMDEX_RETURN_IF_ERROR(DimensionOf(r.clsid, r.className, &r.dimension));
  HRESULT hr = ComObject<Simdex>::Create(nullptr, IID_ISimdex, r.service.PutVoid());
  if (FAILED(hr)) return ServiceStatus("cannot make the index service", hr);
  std::string path = dir;
  hr = r.service->Open(reinterpret_cast<unsigned char*>(path.data()), r.clsid);
  if (FAILED(hr)) return ServiceStatus("cannot open the index in " + dir, hr);
  *session = std::move(s);
  return Status::OK();
}

const std::string& IndexSession::directory() const { return rep_->directory; }
const GUID& IndexSession::objectClass() const { return rep_->clsid; }
const std::string& IndexSession::className() const { return rep_->className; }
int IndexSession::dimension() const { return rep_->dimension; }
ISimdex* IndexSession::service() const { return rep_->service.get(); }

// The service was made here as a ComObject<Simdex>, so its interface is a
// Simdex.
MetricTree* IndexSession::tree() const { return static_cast<Simdex*>(service())->tree(); }

double IndexSession::maxDistance() const { return tree()->parameters().maxDistance; }

bool IndexSession::StatisticsMeasured() const {
  std::string density;
  std::string creation;
  if (!ReadFile(MetricTree::FileIn(directory(), MetricTree::kDensityFile), &density)) return false;
  if (!ReadFile(MetricTree::FileIn(directory(), MetricTree::kTFile), &creation)) return true;
  return density != creation;
}

Status IndexSession::MakeObject(std::span<const double> values, ComPtr<IMTobject>* object) const {
  if (values.size() != static_cast<std::size_t>(dimension())) {
    return Status::InvalidArgument("a vector of " + std::to_string(values.size()) +
                                   " values; objects of class " + className() + " have " +
                                   std::to_string(dimension()));
  }
  ComPtr<IMTobject> o;
  SIMDEX_RETURN_IF_ERROR(NewObject(objectClass(), className(), &o));
  std::vector<unsigned char> bytes(values.size() * 8);
  for (std::size_t i = 0; i < values.size(); ++i) EncodeDouble(bytes.data() + 8 * i, values[i]);
  const HRESULT hr = o->initialize(bytes.data());
  if (FAILED(hr)) return Status::InvalidArgument("the object refused its value: " + Hex(hr));
  *object = std::move(o);
  return Status::OK();
}

Status IndexSession::Insert(std::uint32_t id, std::span<const double> values) {
  ComPtr<IMTobject> object;
  SIMDEX_RETURN_IF_ERROR(MakeObject(values, &object));
  const HRESULT hr = service()->Insert(id, object.get());
  if (FAILED(hr)) return ServiceStatus("cannot insert object " + std::to_string(id), hr);
  return Status::OK();
}

Status IndexSession::SetApproximation(int method, std::optional<double> threshold) {
  const std::string needStats = "approximation method " + std::to_string(method) +
                                " uses the distance distribution of the data, which has not " +
                                "been measured: run `simdex stats " + directory() + "` first";
  if ((method == 1 || method == 3) && !StatisticsMeasured()) {
    return Status::FailedPrecondition(needStats);
  }
  HRESULT hr = service()->setApproximationMethod(method);
  if (hr == E_UNEXPECTED) return Status::FailedPrecondition(needStats);
  if (FAILED(hr)) return ServiceStatus("cannot set approximation method", hr);
  double t = threshold.value_or(0.0);
  hr = service()->setApproximationThresholds(&t, threshold ? 1 : 0);
  if (FAILED(hr)) return ServiceStatus("cannot set the threshold", hr);
  return Status::OK();
}

Status IndexSession::TakeCost(SearchCost* cost) {
  int distances = 0;
  int reads = 0;
  int writes = 0;
  HRESULT hr = service()->getComputedDistances(&distances);
  if (SUCCEEDED(hr)) hr = service()->getIOReads(&reads);
  if (SUCCEEDED(hr)) hr = service()->getIOwrites(&writes);
  if (SUCCEEDED(hr)) hr = service()->resetCounters();
  if (FAILED(hr)) return ServiceStatus("cannot read the cost counters", hr);
  *cost = SearchCost{distances, reads, writes};
  return Status::OK();
}

namespace {

Status Collect(ISimdex* service, std::vector<SearchHit>* hits) {
  hits->clear();
  int n = 0;
  HRESULT hr = service->getResultSetSize(&n);
  if (FAILED(hr)) return ServiceStatus("cannot read the results", hr);
  hits->reserve(static_cast<std::size_t>(n > 0 ? n : 0));
  for (;;) {
    std::int32_t more = 0;
    hr = service->next(&more);
    if (FAILED(hr) || !more) break;
    SearchHit hit{};
    hr = service->getObjectId(&hit.id);
    if (SUCCEEDED(hr)) hr = service->getObjectDistance(&hit.distance);
    if (FAILED(hr)) break;
    hits->push_back(hit);
  }
  if (FAILED(hr)) return ServiceStatus("cannot read the results", hr);
  return Status::OK();
}

}  // namespace

Status IndexSession::Search(std::span<const double> query,
                            const std::function<HRESULT(IMTobject*)>& search, const char* failure,
                            std::vector<SearchHit>* hits, SearchCost* cost) {
  ComPtr<IMTobject> object;
  SIMDEX_RETURN_IF_ERROR(MakeObject(query, &object));
  // Whatever ran before is not this search's cost.
  SearchCost before;
  SIMDEX_RETURN_IF_ERROR(TakeCost(&before));
  const HRESULT hr = search(object.get());
  if (FAILED(hr)) return ServiceStatus(failure, hr);
  SIMDEX_RETURN_IF_ERROR(TakeCost(cost));
  return Collect(service(), hits);
}

Status IndexSession::Nearest(std::span<const double> query, int k, std::vector<SearchHit>* hits,
                             SearchCost* cost) {
  return Search(
      query, [&](IMTobject* object) { return service()->NNSearch(object, k); },
      "the nearest-neighbour search failed", hits, cost);
}

Status IndexSession::Range(std::span<const double> query, double radius,
                           std::vector<SearchHit>* hits, SearchCost* cost) {
  return Search(
      query, [&](IMTobject* object) { return service()->RangeSearch(object, radius); },
      "the range search failed", hits, cost);
}

Status IndexSession::GenerateStatistics(SearchCost* cost) {
  SearchCost before;
  SIMDEX_RETURN_IF_ERROR(TakeCost(&before));
  const HRESULT hr = service()->generateStatistics();
  if (FAILED(hr)) return ServiceStatus("the statistics pass failed", hr);
  return TakeCost(cost);
}

}  // namespace simdex::cli
