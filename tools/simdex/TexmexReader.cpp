#include "tools/simdex/TexmexReader.h"

#include "platform/Coding.h"

namespace simdex::cli {

TexmexReader::TexmexReader(std::unique_ptr<InputFile> file, Element element, int dimension)
    : VectorReader(file->path(), dimension),
      file_(std::move(file)),
      element_(element),
      elementSize_(element == kFloat32 ? 4 : 1) {}

Status TexmexReader::Open(std::unique_ptr<InputFile> file, Element element, int dimension,
                          std::unique_ptr<VectorReader>* reader) {
  if (file->size() == 0) return Status::InvalidArgument(file->path() + ": no vectors");
  std::unique_ptr<TexmexReader> r(new TexmexReader(std::move(file), element, dimension));
  unsigned char head[4];
  std::size_t got = 0;
  SIMDEX_RETURN_IF_ERROR(r->file_->Read(head, &got));
  if (got == 4) {
    const std::int32_t d = DecodeInt32(head);
    if (d > 0) {
      const std::uint64_t rowBytes = 4 + static_cast<std::uint64_t>(d) * r->elementSize_;
      r->rowCount_ = static_cast<std::int64_t>(r->file_->size() / rowBytes);
    }
  }
  SIMDEX_RETURN_IF_ERROR(r->file_->Seek(0));
  *reader = std::move(r);
  return Status::OK();
}

Status TexmexReader::ReadRow(std::int64_t row, VectorRow* out, bool* more) {
  *more = false;
  if (file_->remaining() == 0) return Status::OK();
  // When the dimension is known a truncated header is measured against the
  // whole row; otherwise only the header is known to be missing.
  const std::uint64_t known =
      dimension() > 0 ? 4 + static_cast<std::uint64_t>(dimension()) * elementSize_ : 4;
  unsigned char head[4];
  std::size_t got = 0;
  SIMDEX_RETURN_IF_ERROR(file_->Read(head, &got));
  if (got < 4) return Truncated(row, got, known);
  const std::int32_t d = DecodeInt32(head);
  if (d < 0) return RowError(row, "bad dimension field " + std::to_string(d));
  SIMDEX_RETURN_IF_ERROR(CheckCount(row, static_cast<std::uint64_t>(d)));
  // The dimension field is untrusted: the file must hold the row before
  // anything is allocated for it.
  const std::uint64_t bytes = static_cast<std::uint64_t>(d) * elementSize_;
  if (file_->remaining() < bytes) return Truncated(row, 4 + file_->remaining(), 4 + bytes);
  buffer_.resize(bytes);
  SIMDEX_RETURN_IF_ERROR(file_->Read(buffer_, &got));
  if (got < bytes) return Truncated(row, 4 + got, 4 + bytes);
  out->values.resize(static_cast<std::size_t>(d));
  if (element_ == kFloat32) {
    for (std::size_t i = 0; i < out->values.size(); ++i) {
      out->values[i] = std::bit_cast<float>(DecodeFixed32(&buffer_[4 * i]));
    }
  } else {
    for (std::size_t i = 0; i < out->values.size(); ++i) out->values[i] = buffer_[i];
  }
  *more = true;
  return Status::OK();
}

}  // namespace simdex::cli
