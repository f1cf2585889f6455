#include "tools/simdex/VectorWriter.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Assert.h"
#include "platform/Coding.h"

namespace simdex::cli {
namespace {

// The npy preamble and header take this many bytes: room for any shape,
// and a multiple of 64 as NumPy wants, so the rewrite at Close fits exactly.
constexpr std::size_t kNpyHeaderBytes = 128;
// "\x93NUMPY", version 1.0, then the 16-bit header length.
constexpr std::size_t kNpyPreambleBytes = 10;

Status OpenForWriting(const std::string& path, std::FILE** file) {
  *file = std::fopen(path.c_str(), "wb");
  if (*file == nullptr) {
    return Status::IOError(path + ": cannot create: " + std::strerror(errno));
  }
  return Status::OK();
}

// Writes bytes to a new file at path and closes it, removing it on failure.
Status WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::FILE* f = nullptr;
  SIMDEX_RETURN_IF_ERROR(OpenForWriting(path, &f));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int err = errno;
  if (std::fclose(f) != 0 || !written) {
    std::remove(path.c_str());
    return Status::IOError(path + ": write failed: " + std::strerror(written ? errno : err));
  }
  return Status::OK();
}

}  // namespace

VectorWriter::VectorWriter(std::unique_ptr<std::FILE, Closer> file, std::string path,
                           VectorFormat format, int dimension)
    : file_(std::move(file)), path_(std::move(path)), format_(format), dimension_(dimension) {}

VectorWriter::~VectorWriter() {
  if (file_) {
    file_.reset();
    std::remove(path_.c_str());
  }
}

Status VectorWriter::Create(const std::string& path, VectorFormat format, int dimension,
                            std::unique_ptr<VectorWriter>* writer) {
  if (format == VectorFormat::kBvecs) {
    return Status::InvalidArgument(path + ": cannot write bvecs (it holds bytes, not doubles)");
  }
  if (dimension <= 0) {
    return Status::InvalidArgument(path + ": the dimension must be positive, not " +
                                   std::to_string(dimension));
  }
  std::FILE* f = nullptr;
  SIMDEX_RETURN_IF_ERROR(OpenForWriting(path, &f));
  std::unique_ptr<VectorWriter> w(
      new VectorWriter(std::unique_ptr<std::FILE, Closer>(f), path, format, dimension));
  // A placeholder until the number of rows is known.
  if (format == VectorFormat::kNpy) SIMDEX_RETURN_IF_ERROR(w->WriteNpyHeader());
  *writer = std::move(w);
  return Status::OK();
}

Status VectorWriter::Put(const void* data, std::size_t size) {
  if (std::fwrite(data, 1, size, file_.get()) != size) {
    return Status::IOError(path_ + ": write failed: " + std::strerror(errno));
  }
  return Status::OK();
}

Status VectorWriter::WriteNpyHeader() {
  std::string dict = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(rows_) +
                     ", " + std::to_string(dimension_) + "), }";
  dict.resize(kNpyHeaderBytes - kNpyPreambleBytes - 1, ' ');
  dict += '\n';
  unsigned char pre[kNpyPreambleBytes] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0};
  EncodeFixed16(pre + 8, static_cast<std::uint16_t>(dict.size()));
  SIMDEX_RETURN_IF_ERROR(Put(pre, sizeof pre));
  return Put(dict.data(), dict.size());
}

Status VectorWriter::Write(std::span<const double> row) {
  if (!file_) return Status::FailedPrecondition(path_ + ": already closed");
  if (row.size() != static_cast<std::size_t>(dimension_)) {
    return Status::InvalidArgument(path_ + ": row " + std::to_string(rows_) + ": expected " +
                                   std::to_string(dimension_) + " values, found " +
                                   std::to_string(row.size()));
  }
  for (std::size_t i = 0; i < row.size(); ++i) {
    const bool tooBig =
        format_ == VectorFormat::kFvecs && std::fabs(row[i]) > std::numeric_limits<float>::max();
    if (!std::isfinite(row[i]) || tooBig) {
      return Status::InvalidArgument(path_ + ": row " + std::to_string(rows_) + ": value " +
                                     std::to_string(i) + " (" + std::to_string(row[i]) + ")" +
                                     (tooBig ? " does not fit float32" : " is not finite"));
    }
  }
  buffer_.clear();
  switch (format_) {
    case VectorFormat::kFvecs:
      buffer_.resize(4 + 4 * row.size());
      EncodeInt32(buffer_.data(), dimension_);
      for (std::size_t i = 0; i < row.size(); ++i) {
        EncodeFixed32(&buffer_[4 + 4 * i],
                      std::bit_cast<std::uint32_t>(static_cast<float>(row[i])));
      }
      break;
    case VectorFormat::kNpy:
    case VectorFormat::kRawDoubles:
      buffer_.resize(8 * row.size());
      for (std::size_t i = 0; i < row.size(); ++i) EncodeDouble(&buffer_[8 * i], row[i]);
      break;
    case VectorFormat::kCsv:
      for (std::size_t i = 0; i < row.size(); ++i) {
        // Shortest text that reads back as the same double.
        char text[32];
        const auto [end, ec] = std::to_chars(text, text + sizeof text, row[i]);
        SIMDEX_ASSERT(ec == std::errc(), "ec == std::errc()");
        if (i > 0) buffer_.push_back(',');
        buffer_.insert(buffer_.end(), text, end);
      }
      buffer_.push_back('\n');
      break;
    case VectorFormat::kBvecs:
      break;
  }
  SIMDEX_RETURN_IF_ERROR(Put(buffer_.data(), buffer_.size()));
  ++rows_;
  return Status::OK();
}

Status VectorWriter::Close() {
  if (!file_) return Status::FailedPrecondition(path_ + ": already closed");
  if (format_ == VectorFormat::kNpy) {
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0) {
      return Status::IOError(path_ + ": cannot seek: " + std::strerror(errno));
    }
    SIMDEX_RETURN_IF_ERROR(WriteNpyHeader());
  }
  std::FILE* f = file_.release();
  if (std::fclose(f) != 0) {
    const int err = errno;
    std::remove(path_.c_str());
    return Status::IOError(path_ + ": write failed: " + std::strerror(err));
  }
  return Status::OK();
}

Status WriteIvecs(const std::string& path, const std::vector<std::vector<std::int32_t>>& rows) {
  std::vector<unsigned char> bytes;
  for (const auto& row : rows) {
    const std::size_t at = bytes.size();
    bytes.resize(at + 4 + 4 * row.size());
    EncodeInt32(&bytes[at], static_cast<std::int32_t>(row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) EncodeInt32(&bytes[at + 4 + 4 * i], row[i]);
  }
  return WriteWholeFile(path, bytes);
}

Status WriteRawDoubles(const std::string& path, std::span<const double> values) {
  std::vector<unsigned char> bytes(8 * values.size());
  for (std::size_t i = 0; i < values.size(); ++i) EncodeDouble(&bytes[8 * i], values[i]);
  return WriteWholeFile(path, bytes);
}

}  // namespace simdex::cli
