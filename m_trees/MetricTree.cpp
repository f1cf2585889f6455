#include "m_trees/MetricTree.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <locale>
#include <string>
#include <utility>

#include "Proximity/distanceModel.h"
#include "Proximity/simpleSampledFunction.h"
#include "gist/PageFile.h"
#include "platform/Assert.h"

namespace simdex {
namespace {

namespace fs = std::filesystem;

// The uniform density gives each of its 1001 points 1/1001 of the mass.
constexpr double kUniformMass = 0.000999000999000999;
// Node header and end offset of a page, and the pointer of each record.
constexpr std::int64_t kPageOverhead = 18;
constexpr std::int64_t kPointerSize = 4;

Status Unwritable(const std::string& file) { return Status::IOError("cannot write " + file); }

// Text streams of the statistics files: default precision (6 significant
// digits, general format) is the file format; the classic locale keeps the
// decimal point a '.'.
void Classic(std::ios& stream) { stream.imbue(std::locale::classic()); }

Status WriteUniformDensity(const std::string& densityFile, const std::string& tFile,
                           double maxDistance) {
  std::ofstream density(densityFile, std::ios::out | std::ios::trunc);
  std::ofstream t(tFile, std::ios::out | std::ios::trunc);
  if (!density) return Unwritable(densityFile);
  if (!t) return Unwritable(tFile);
  Classic(density);
  Classic(t);
  const int n = MetricTree::kDensityIntervals;
  density << 0 << ' ' << maxDistance << ' ' << n << '\n';
  t << 0 << ' ' << maxDistance << ' ' << n << '\n';
  const double step = maxDistance * 0.001;
  const double value = kUniformMass / step;
  double x = 0;
  for (int i = 0; i <= n; ++i) {
    density << x << ' ' << value << '\n';
    t << x << ' ' << value << '\n';
    x += step;
  }
  density.close();
  t.close();
  if (density.fail()) return Unwritable(densityFile);
  if (t.fail()) return Unwritable(tFile);
  return Status::OK();
}

// Distribution.dat as the running sum of the density's points times its step.
// A point that can't be read repeats the last one read.
Status WriteDistribution(const std::string& densityFile, const std::string& distributionFile) {
  std::ifstream in(densityFile);
  if (!in) return Status::NotFound("cannot read " + densityFile);
  Classic(in);
  double lower = 0;
  double upper = 0;
  long long n = 0;
  if (!(in >> lower >> upper >> n) || !(upper > 0) || !std::isfinite(upper) || n < 1 ||
      n > simpleSampledFunction::kMaxLoadIntervals) {
    return Status::Corruption(densityFile + " does not start with a usable range");
  }
  std::ofstream out(distributionFile, std::ios::out | std::ios::trunc);
  if (!out) return Unwritable(distributionFile);
  Classic(out);
  out << 0 << ' ' << upper << ' ' << n << '\n';
  const double step = upper / static_cast<double>(n);
  double sum = 0;
  double x = 0;
  double y = 0;
  for (long long i = 0; i <= n; ++i) {
    double nextX = 0;
    double nextY = 0;
    if (in >> nextX >> nextY) {
      x = nextX;
      y = nextY;
    }
    sum = sum + y * step;
    out << x << ' ' << sum << '\n';
  }
  out.close();
  if (out.fail()) return Unwritable(distributionFile);
  return Status::OK();
}

// The record Create leaves: level 0, the maximum distance, 0 entries, and no
// line end, so that reading it back finds no complete record.
Status WriteCreationTreeStats(const std::string& file, double maxDistance) {
  std::ofstream out(file, std::ios::out | std::ios::trunc);
  if (!out) return Unwritable(file);
  Classic(out);
  out << 0 << ' ' << maxDistance << ' ' << 0;
  out.close();
  if (out.fail()) return Unwritable(file);
  return Status::OK();
}

void RemoveFiles(const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    std::error_code ec;
    fs::remove(file, ec);
  }
}

Status CheckDirectory(const std::string& directory) {
  if (directory.empty()) return Status::InvalidArgument("no index directory given");
  std::error_code ec;
  if (!fs::is_directory(directory, ec)) {
    return Status::NotFound("index directory " + directory + " does not exist");
  }
  return Status::OK();
}

}  // namespace

MetricTree::MetricTree() : parameters_(std::make_unique<TreeParameters>()) { MakeActive(); }

MetricTree::~MetricTree() { parameters_.reset(); }

std::unique_ptr<PageStore> MetricTree::MakeStore() { return std::make_unique<PageFile>(); }

std::unique_ptr<GiSTnode> MetricTree::MakeNode() { return std::make_unique<MTnode>(); }

void MetricTree::MakeActive() { SetActiveParameters(parameters_.get()); }

std::string MetricTree::FileIn(const std::string& directory, const std::string& name) {
  if (!directory.empty() && directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

Status MetricTree::Create(const std::string& directory, double maxDistance,
                          const GUID& objectClass) {
  MakeActive();
  if (IsOpen()) return Status::FailedPrecondition("the tree already holds an open index");
  if (!(maxDistance > 0) || !std::isfinite(maxDistance)) {
    return Status::InvalidArgument("the maximum distance must be a positive finite number");
  }
  SIMDEX_RETURN_IF_ERROR(CheckDirectory(directory));
  // Nothing in the directory changes unless the index's objects can be made.
  {
    ComPtr<IMTobject> probe;
    SIMDEX_RETURN_IF_ERROR(
        MTobjectHandle::CreatePluginObject(objectClass, MTobjectHandle::kClassContext, &probe));
  }

  const std::string index = FileIn(directory, kIndexFile);
  const std::string density = FileIn(directory, kDensityFile);
  const std::string distribution = FileIn(directory, kDistributionFile);
  const std::string t = FileIn(directory, kTFile);
  const std::string treeStats = FileIn(directory, kTreeStatsFile);
  std::error_code ec;
  fs::remove(index, ec);

  // Whatever this call wrote goes again when a later step fails.
  std::vector<std::string> written = {density, t};
  auto fail = [&written](Status s) {
    RemoveFiles(written);
    return s;
  };
  Status s = WriteUniformDensity(density, t, maxDistance);
  if (!s.ok()) return fail(s);
  written.push_back(distribution);
  s = WriteDistribution(density, distribution);
  if (!s.ok()) return fail(s);
  written.push_back(treeStats);
  s = WriteCreationTreeStats(treeStats, maxDistance);
  if (!s.ok()) return fail(s);
  s = LoadStatistics(directory, objectClass);
  if (!s.ok()) return fail(s);
  s = CreateIndex(index);
  if (!s.ok()) {
    // An index.M3 that is still there after the delete is not ours to remove.
    if (s.code() != Status::Code::kAlreadyExists) written.push_back(index);
    return fail(s);
  }
  return Status::OK();
}

Status MetricTree::Open(const std::string& directory, const GUID& objectClass) {
  MakeActive();
  if (IsOpen()) return Status::FailedPrecondition("the tree already holds an open index");
  SIMDEX_RETURN_IF_ERROR(CheckDirectory(directory));
  SIMDEX_RETURN_IF_ERROR(LoadStatistics(directory, objectClass));
  return OpenIndex(FileIn(directory, kIndexFile));
}

Status MetricTree::Insert(MTentry& entry) {
  MakeActive();
  if (!IsOpen()) return Status::FailedPrecondition("no index is open");
  if (!entry.HasBall()) return Status::InvalidArgument("entry without a key");
  parameters_->approximation->resetTracker();
  return InsertEntry(entry);
}

void MetricTree::SetMaxDistance(double d) {
  MakeActive();
  if (!(d > 0) || !std::isfinite(d)) return;
  parameters_->maxDistance = d;
}

void MetricTree::SetApproximationMethod(std::int32_t method) {
  MakeActive();
  parameters_->approximationMethod = method;
}

void MetricTree::SetApproximationThresholds(std::vector<double> thresholds) {
  MakeActive();
  parameters_->thresholds = std::move(thresholds);
}

Status MetricTree::LoadStatistics(const std::string& directory, const GUID& objectClass) {
  MakeActive();
  const std::string density = FileIn(directory, kDensityFile);
  const std::string distribution = FileIn(directory, kDistributionFile);
  const std::string t = FileIn(directory, kTFile);
  auto model = std::make_unique<distanceModel>(density, distribution, t);
  if (!model->isInitialised()) {
    for (const std::string& file : {density, distribution, t}) {
      std::error_code ec;
      if (!fs::exists(file, ec)) return Status::NotFound("missing statistics file " + file);
    }
    return Status::Corruption("the statistics files in " + directory +
                              " do not hold one distance distribution");
  }
  const double maxDistance = model->getMaxXRange();
  if (!(maxDistance > 0) || !std::isfinite(maxDistance)) {
    return Status::Corruption("the statistics files in " + directory +
                              " give no usable maximum distance");
  }

  ComPtr<IMTobject> prototype;
  SIMDEX_RETURN_IF_ERROR(
      MTobjectHandle::CreatePluginObject(objectClass, MTobjectHandle::kClassContext, &prototype));
  int size = 0;
  prototype->compressedSize(&size);
  // A node must hold two entries, or a split could not be posted to a parent.
  const std::int64_t record =
      std::int64_t{size} + MTobjectHandle::kOidSize + MTball::kFieldsSize + kPointerSize;
  if (size < 0 || kPageOverhead + 2 * record > PageFile::kPageSize) {
    return Status::InvalidArgument("objects of " + std::to_string(size) +
                                   " bytes do not fit in index pages");
  }

  TreeStatsRecords stats = ReadTreeStats(directory);

  TreeParameters& p = *parameters_;
  p.model = std::move(model);
  p.directory = directory;
  p.maxDistance = maxDistance;
  p.objectClass = objectClass;
  p.prototype = std::move(prototype);
  p.statLevels = std::move(stats.levels);
  p.statRadii = std::move(stats.radii);
  p.statEntries = std::move(stats.entries);
  p.totalObjects = static_cast<std::int32_t>(
      std::min<std::int64_t>(stats.objects, std::numeric_limits<std::int32_t>::max()));
  return Status::OK();
}

MetricTree::TreeStatsRecords MetricTree::ReadTreeStats(const std::string& directory) {
  TreeStatsRecords stats;
  std::ifstream in(FileIn(directory, kTreeStatsFile));
  if (!in) return stats;
  Classic(in);
  for (;;) {
    std::int32_t level = 0;
    double radius = 0;
    std::int32_t count = 0;
    in >> level >> radius >> count;
    if (!in || in.eof()) break;
    stats.levels.push_back(level);
    stats.radii.push_back(radius);
    stats.entries.push_back(count);
    if (level == 0 && count > 0) stats.objects += count;
  }
  return stats;
}

Status MetricTree::LoadMTnode(const NodePath& path, std::unique_ptr<MTnode>* node) {
  MakeActive();
  node->reset();
  std::unique_ptr<GiSTnode> loaded;
  SIMDEX_RETURN_IF_ERROR(LoadNode(path, &loaded));
  SIMDEX_ASSERT(loaded->IsA() == MTnode::kClassTag, "node->IsA()==MTNODE_CLASS");
  node->reset(static_cast<MTnode*>(loaded.release()));
  return Status::OK();
}

Status MetricTree::LoadRoot(std::unique_ptr<MTnode>* root) {
  return LoadMTnode(NodePath::Root(), root);
}

Status MetricTree::LoadChild(const MTnode& parent, int index, std::unique_ptr<MTnode>* child) {
  child->reset();
  const std::int32_t page = parent.Entry(index).Pointer();
  const std::string where = "page " + std::to_string(parent.Path().LastPage());
  if (parent.IsLeaf()) return Status::InvalidArgument(where + " is a leaf");
  if (page <= NodePath::kRootPage) {
    return Status::Corruption(where + ": entry points to page " + std::to_string(page));
  }
  NodePath path = parent.Path();
  SIMDEX_RETURN_IF_ERROR(path.Append(page));
  std::unique_ptr<MTnode> loaded;
  SIMDEX_RETURN_IF_ERROR(LoadMTnode(path, &loaded));
  if (loaded->Level() != parent.Level() - 1) {
    return Status::Corruption("page " + std::to_string(page) + " has level " +
                              std::to_string(loaded->Level()) + " under " + where + " of level " +
                              std::to_string(parent.Level()));
  }
  *child = std::move(loaded);
  return Status::OK();
}

Status MetricTree::GenerateStatistics() {
  MakeActive();
  if (!IsOpen()) return Status::FailedPrecondition("no index is open");
  const std::string directory = parameters_->directory;
  const GUID objectClass = parameters_->objectClass;
  SIMDEX_RETURN_IF_ERROR(WriteTreeStats());
  SIMDEX_RETURN_IF_ERROR(LoadStatistics(directory, objectClass));
  SIMDEX_RETURN_IF_ERROR(SampleDensity());
  SIMDEX_RETURN_IF_ERROR(
      WriteDistribution(FileIn(directory, kDensityFile), FileIn(directory, kDistributionFile)));
  return LoadStatistics(directory, objectClass);
}

Status MetricTree::WriteTreeStats() {
  const std::string file = FileIn(parameters_->directory, kTreeStatsFile);
  std::ofstream out(file, std::ios::out | std::ios::trunc);
  if (!out) return Unwritable(file);
  Classic(out);
  std::unique_ptr<MTnode> root;
  SIMDEX_RETURN_IF_ERROR(LoadRoot(&root));
  SIMDEX_RETURN_IF_ERROR(VisitForStats(*root, out));
  out.close();
  if (out.fail()) return Unwritable(file);
  return Status::OK();
}

Status MetricTree::VisitForStats(MTnode& node, std::ostream& out) {
  if (node.IsLeaf()) return Status::OK();
  for (int i = 0; i < node.NumEntries(); ++i) {
    std::unique_ptr<MTnode> child;
    SIMDEX_RETURN_IF_ERROR(LoadChild(node, i, &child));
    out << child->Level() << ' ' << node.Entry(i).Ball().coverRadius << ' ' << child->NumEntries()
        << std::endl;
    if (!out) return Unwritable(FileIn(parameters_->directory, kTreeStatsFile));
    SIMDEX_RETURN_IF_ERROR(VisitForStats(*child, out));
  }
  return Status::OK();
}

Status MetricTree::CollectSamples(MTnode& node, int step, int wanted, std::int64_t* count,
                                  std::vector<std::unique_ptr<MTobjectHandle>>* samples) {
  for (int i = 0; i < node.NumEntries(); ++i) {
    if (node.IsLeaf()) {
      if (*count % step == 0 && static_cast<int>(samples->size()) < wanted) {
        std::unique_ptr<MTobjectHandle> sample;
        SIMDEX_RETURN_IF_ERROR(MTobjectHandle::CopyOf(node.Entry(i).Ball().Object(), &sample));
        samples->push_back(std::move(sample));
      }
      ++*count;
    } else {
      std::unique_ptr<MTnode> child;
      SIMDEX_RETURN_IF_ERROR(LoadChild(node, i, &child));
      SIMDEX_RETURN_IF_ERROR(CollectSamples(*child, step, wanted, count, samples));
    }
  }
  return Status::OK();
}

Status MetricTree::SampleDensity() {
  TreeParameters& p = *parameters_;
  const int s = std::min(p.totalObjects, kMaxSamples);
  std::vector<std::unique_ptr<MTobjectHandle>> samples;
  if (s > 0) {
    const int step = p.totalObjects / s;
    std::unique_ptr<MTnode> root;
    SIMDEX_RETURN_IF_ERROR(LoadRoot(&root));
    std::int64_t count = 0;
    SIMDEX_RETURN_IF_ERROR(CollectSamples(*root, step, s, &count, &samples));
  }
  std::cerr << "Computing density with " << s << " samples ..." << std::endl;

  simpleSampledFunction density;
  density.setRange(0, p.maxDistance);
  density.setSamples(kDensityIntervals);
  const double epsilon = density.getEpsilon();
  const double maxDistance = p.maxDistance;
  // Fewer samples than the statistics promised only if the tree changed under
  // them; the pairs are those of the samples actually taken.
  const int taken = static_cast<int>(samples.size());
  std::int64_t outside = 0;
  if (taken > 0) {
    const double weight = (1.0 / (static_cast<double>(taken) * taken)) / epsilon;
    const int stride = taken / 50;
    for (int i = 0; i < taken; ++i) {
      for (int j = 0; j < taken; ++j) {
        double d = samples[j]->Distance(*samples[i]);
        // The histogram spans [0, maxDistance]: a plug-in that strays outside
        // is counted at the nearer end rather than stopping the process.
        if (!(d >= 0 && d <= maxDistance)) {
          ++outside;
          d = d > maxDistance ? maxDistance : 0.0;
        }
        density.accumulatePair(d, weight);
      }
      if (taken > 50 && i % stride == 0) std::cerr << "*";
    }
  }
  samples.clear();
  std::cerr << "done!" << std::endl;
  if (outside > 0) {
    std::cerr << "Warning: " << outside << " sampled distances lie outside [0, " << maxDistance
              << "]; counted in the nearest interval" << std::endl;
  }
  const std::string file = FileIn(p.directory, kDensityFile);
  std::cerr << "Saving density in " << file << "..." << std::endl;
  if (!density.save(file)) return Unwritable(file);
  std::cerr << "done!" << std::endl;
  return Status::OK();
}

}  // namespace simdex
