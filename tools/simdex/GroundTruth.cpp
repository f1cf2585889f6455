#include "tools/simdex/GroundTruth.h"

#include <cmath>
#include <filesystem>
#include <fstream>

#include "platform/Coding.h"

namespace simdex::cli {
namespace {

namespace fs = std::filesystem;

Status ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return Status::NotFound(path + ": no such file");
  const auto size = fs::file_size(path, ec);
  if (ec) return Status::IOError(path + ": " + ec.message());
  std::ifstream in(path, std::ios::binary);
  bytes->resize(static_cast<std::size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size))) {
    return Status::IOError(path + ": cannot read");
  }
  return Status::OK();
}

std::string Row(const std::string& file, std::size_t row) {
  return file + ": row " + std::to_string(row) + ": ";
}

}  // namespace

std::string GroundTruth::DistanceFileFor(const std::string& idsFile) {
  fs::path p(idsFile);
  return (p.parent_path() / (p.stem().string() + "_dist.bin")).string();
}

Status GroundTruth::Load(const std::string& idsFile, const std::string& distancesFile,
                         GroundTruth* out) {
  std::vector<unsigned char> bytes;
  SIMDEX_RETURN_IF_ERROR(ReadFile(idsFile, &bytes));
  GroundTruth t;
  std::size_t at = 0;
  std::size_t total = 0;
  while (at < bytes.size()) {
    const std::size_t row = t.ids_.size();
    if (bytes.size() - at < 4) return Status::Corruption(Row(idsFile, row) + "truncated record");
    const std::int32_t k = DecodeInt32(&bytes[at]);
    at += 4;
    if (k < 0) return Status::Corruption(Row(idsFile, row) + "negative count " + std::to_string(k));
    if ((bytes.size() - at) / 4 < static_cast<std::size_t>(k)) {
      return Status::Corruption(Row(idsFile, row) + "truncated record (" + std::to_string(k) +
                                " identifiers announced)");
    }
    std::vector<std::uint32_t> ids;
    ids.reserve(static_cast<std::size_t>(k));
    for (std::int32_t i = 0; i < k; ++i, at += 4) {
      const std::int32_t id = DecodeInt32(&bytes[at]);
      if (id < 0) {
        return Status::Corruption(Row(idsFile, row) + "negative identifier " + std::to_string(id));
      }
      ids.push_back(static_cast<std::uint32_t>(id));
    }
    total += ids.size();
    t.ids_.push_back(std::move(ids));
  }

  SIMDEX_RETURN_IF_ERROR(ReadFile(distancesFile, &bytes));
  if (bytes.size() != total * 8) {
    return Status::Corruption(distancesFile + ": holds " + std::to_string(bytes.size()) +
                              " bytes, but the " + std::to_string(total) + " neighbours of " +
                              idsFile + " need " + std::to_string(total * 8) +
                              " (one float64 each)");
  }
  at = 0;
  for (std::size_t row = 0; row < t.ids_.size(); ++row) {
    std::vector<double> distances;
    distances.reserve(t.ids_[row].size());
    for (std::size_t i = 0; i < t.ids_[row].size(); ++i, at += 8) {
      const double d = DecodeDouble(&bytes[at]);
      if (!(d >= 0) || !std::isfinite(d)) {
        return Status::Corruption(Row(distancesFile, row) + "distance " + std::to_string(i) +
                                  " is not a finite non-negative number");
      }
      distances.push_back(d);
    }
    t.distances_.push_back(std::move(distances));
  }
  *out = std::move(t);
  return Status::OK();
}

}  // namespace simdex::cli
