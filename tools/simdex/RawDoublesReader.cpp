#include "tools/simdex/RawDoublesReader.h"

#include "platform/Coding.h"

namespace simdex::cli {

RawDoublesReader::RawDoublesReader(std::unique_ptr<InputFile> file, int dimension)
    : VectorReader(file->path(), dimension),
      file_(std::move(file)),
      rowBytes_(static_cast<std::uint64_t>(dimension) * 8) {}

Status RawDoublesReader::Open(std::unique_ptr<InputFile> file, int dimension,
                              std::unique_ptr<VectorReader>* reader) {
  if (dimension <= 0) {
    return Status::InvalidArgument(file->path() +
                                   ": a raw float64 file has no header: give its dimension");
  }
  if (file->size() == 0) return Status::InvalidArgument(file->path() + ": no vectors");
  reader->reset(new RawDoublesReader(std::move(file), dimension));
  return Status::OK();
}

std::optional<std::int64_t> RawDoublesReader::RowCount() const {
  return static_cast<std::int64_t>(file_->size() / rowBytes_);
}

Status RawDoublesReader::ReadRow(std::int64_t row, VectorRow* out, bool* more) {
  *more = false;
  if (file_->remaining() == 0) return Status::OK();
  // Checked before allocating: the dimension may be far larger than the file.
  if (file_->remaining() < rowBytes_) return Truncated(row, file_->remaining(), rowBytes_);
  buffer_.resize(rowBytes_);
  std::size_t got = 0;
  SIMDEX_RETURN_IF_ERROR(file_->Read(buffer_, &got));
  if (got < buffer_.size()) return Truncated(row, got, buffer_.size());
  out->values.resize(buffer_.size() / 8);
  for (std::size_t i = 0; i < out->values.size(); ++i) {
    out->values[i] = DecodeDouble(&buffer_[8 * i]);
  }
  *more = true;
  return Status::OK();
}

}  // namespace simdex::cli
