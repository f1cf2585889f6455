#include "tools/simdex/NpyReader.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <limits>

#include "platform/Coding.h"

namespace simdex::cli {
namespace {

// "\x93NUMPY", the major and minor version, then the header length.
constexpr unsigned char kMagic[] = {0x93, 'N', 'U', 'M', 'P', 'Y'};
// Real headers are a few hundred bytes; this bound keeps a damaged length
// from allocating much.
constexpr std::uint64_t kMaxHeaderLength = 1 << 20;

// A reader of the Python literal that the header holds:
// {'descr': '<f8', 'fortran_order': False, 'shape': (5, 3), }
class HeaderParser {
 public:
  explicit HeaderParser(const std::string& text) : text_(text) {}

  Status Parse(NpyHeader* header, const std::string& path) {
    bool sawDescr = false, sawOrder = false, sawShape = false;
    SkipSpace();
    if (!Take('{')) return Bad(path, "expected '{'");
    for (;;) {
      SkipSpace();
      if (Take('}')) break;
      std::string key;
      if (!String(&key)) return Bad(path, "expected a quoted key");
      SkipSpace();
      if (!Take(':')) return Bad(path, "expected ':' after '" + key + "'");
      SkipSpace();
      if (key == "descr" && !sawDescr) {
        sawDescr = true;
        if (Peek() == '[') {
          return Status::NotSupported(path +
                                      ": npy arrays of structured type are not supported "
                                      "(float32 or float64 only)");
        }
        if (!String(&header->descr)) return Bad(path, "'descr' is not a string");
      } else if (key == "fortran_order" && !sawOrder) {
        sawOrder = true;
        if (Word("True")) {
          header->fortranOrder = true;
        } else if (Word("False")) {
          header->fortranOrder = false;
        } else {
          return Bad(path, "'fortran_order' is not True or False");
        }
      } else if (key == "shape" && !sawShape) {
        sawShape = true;
        if (!Tuple(&header->shape)) return Bad(path, "'shape' is not a tuple of integers");
      } else {
        return Bad(path, "unexpected or repeated key '" + key + "'");
      }
      SkipSpace();
      if (Take(',')) continue;
      SkipSpace();
      if (Take('}')) break;
      return Bad(path, "expected ',' or '}'");
    }
    SkipSpace();
    if (pos_ != text_.size()) return Bad(path, "text after the dictionary");
    if (!sawDescr || !sawOrder || !sawShape) {
      return Bad(path, std::string("no '") +
                           (!sawDescr   ? "descr"
                            : !sawOrder ? "fortran_order"
                                        : "shape") +
                           "'");
    }
    return Status::OK();
  }

 private:
  static Status Bad(const std::string& path, const std::string& what) {
    return Status::Corruption(path + ": bad npy header: " + what);
  }
  char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\t' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Word(const char* w) {
    const std::string word(w);
    if (text_.compare(pos_, word.size(), word) != 0) return false;
    pos_ += word.size();
    return true;
  }
  bool String(std::string* out) {
    const char quote = Peek();
    if (quote != '\'' && quote != '"') return false;
    const std::size_t end = text_.find(quote, pos_ + 1);
    if (end == std::string::npos) return false;
    *out = text_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    return true;
  }
  // (), (n,), (n, d), ... with an optional trailing comma; Python 2 wrote
  // an L after long integers.
  bool Tuple(std::vector<std::uint64_t>* out) {
    out->clear();
    if (!Take('(')) return false;
    for (;;) {
      SkipSpace();
      if (Take(')')) return true;
      std::uint64_t v = 0;
      const char* first = text_.data() + pos_;
      const char* last = text_.data() + text_.size();
      auto [p, ec] = std::from_chars(first, last, v);
      if (ec != std::errc() || p == first) return false;
      pos_ += static_cast<std::size_t>(p - first);
      Take('L');
      out->push_back(v);
      SkipSpace();
      if (Take(',')) continue;
      SkipSpace();
      if (Take(')')) return true;
      return false;
    }
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

std::string ShapeText(const std::vector<std::uint64_t>& shape) {
  std::string s = "(";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) s += ", ";
    s += std::to_string(shape[i]);
  }
  if (shape.size() == 1) s += ",";
  return s + ")";
}

}  // namespace

Status NpyReader::ParseHeader(InputFile& file, NpyHeader* header) {
  const std::string& path = file.path();
  unsigned char pre[12];
  std::size_t got = 0;
  SIMDEX_RETURN_IF_ERROR(file.Read(std::span<unsigned char>(pre, 8), &got));
  if (got < 8 || !std::equal(std::begin(kMagic), std::end(kMagic), pre)) {
    return Status::Corruption(path + ": not a NumPy .npy file (no \\x93NUMPY magic)");
  }
  const int major = pre[6], minor = pre[7];
  if ((major != 1 && major != 2 && major != 3) || minor != 0) {
    return Status::NotSupported(path + ": npy format version " + std::to_string(major) + "." +
                                std::to_string(minor) + " is not supported (1.0, 2.0, 3.0)");
  }
  // Version 1 has a 16-bit header length, later versions a 32-bit one.
  const std::size_t lengthBytes = major == 1 ? 2 : 4;
  SIMDEX_RETURN_IF_ERROR(file.Read(std::span<unsigned char>(pre + 8, lengthBytes), &got));
  if (got < lengthBytes) return Status::Corruption(path + ": bad npy header: file ends in it");
  const std::uint64_t length = major == 1 ? DecodeFixed16(pre + 8) : DecodeFixed32(pre + 8);
  if (length > kMaxHeaderLength || length > file.remaining()) {
    return Status::Corruption(path + ": bad npy header: length " + std::to_string(length) +
                              " exceeds the file or " + std::to_string(kMaxHeaderLength) +
                              " bytes");
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  SIMDEX_RETURN_IF_ERROR(file.Read(
      std::span<unsigned char>(reinterpret_cast<unsigned char*>(text.data()), text.size()), &got));
  if (got < text.size()) return Status::Corruption(path + ": bad npy header: file ends in it");
  header->dataOffset = 8 + lengthBytes + length;
  HeaderParser parser(text);
  return parser.Parse(header, path);
}

NpyReader::NpyReader(std::unique_ptr<InputFile> file, int dimension)
    : VectorReader(file->path(), dimension), file_(std::move(file)) {}

Status NpyReader::Open(std::unique_ptr<InputFile> file, int dimension,
                       std::unique_ptr<VectorReader>* reader) {
  const std::string path = file->path();
  if (file->size() == 0) return Status::InvalidArgument(path + ": no vectors");
  NpyHeader header;
  SIMDEX_RETURN_IF_ERROR(ParseHeader(*file, &header));
  const std::string& d = header.descr;
  if (d != "<f4" && d != "<f8" && d != ">f4" && d != ">f8") {
    return Status::NotSupported(path + ": npy arrays of type '" + d +
                                "' are not supported (float32 or float64 only)");
  }
  if (header.fortranOrder) {
    return Status::NotSupported(path +
                                ": npy array is in Fortran order; save it in C order "
                                "(numpy.ascontiguousarray)");
  }
  if (header.shape.size() != 2) {
    return Status::NotSupported(path + ": npy array has shape " + ShapeText(header.shape) +
                                "; expected 2-D (rows, dimension)");
  }
  const std::uint64_t rows = header.shape[0], cols = header.shape[1];
  if (rows == 0) return Status::InvalidArgument(path + ": no vectors");
  if (cols == 0 || cols > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return Status::InvalidArgument(path + ": npy array has shape " + ShapeText(header.shape) +
                                   "; its dimension must be 1 to 2147483647");
  }
  std::unique_ptr<NpyReader> r(new NpyReader(std::move(file), dimension));
  r->elementSize_ = d[2] == '4' ? 4 : 8;
  r->bigEndian_ = d[0] == '>';
  r->rows_ = rows;
  const std::uint64_t rowBytes = cols * r->elementSize_;
  const std::uint64_t present = r->file_->size() - header.dataOffset;
  const std::uint64_t whole = present / rowBytes;
  if (whole > rows || (whole == rows && present % rowBytes != 0)) {
    return Status::Corruption(path + ": " + std::to_string(present - rows * rowBytes) +
                              " bytes after the end of the " + ShapeText(header.shape) + " array");
  }
  r->rowCount_ = static_cast<std::int64_t>(whole);
  r->dimensionOfShape_ = static_cast<int>(cols);
  *reader = std::move(r);
  return Status::OK();
}

Status NpyReader::ReadRow(std::int64_t row, VectorRow* out, bool* more) {
  *more = false;
  if (static_cast<std::uint64_t>(row) >= rows_) return Status::OK();
  SIMDEX_RETURN_IF_ERROR(CheckCount(row, static_cast<std::uint64_t>(dimensionOfShape_)));
  const std::uint64_t rowBytes = static_cast<std::uint64_t>(dimensionOfShape_) * elementSize_;
  if (file_->remaining() < rowBytes) return Truncated(row, file_->remaining(), rowBytes);
  buffer_.resize(static_cast<std::size_t>(rowBytes));
  std::size_t got = 0;
  SIMDEX_RETURN_IF_ERROR(file_->Read(buffer_, &got));
  if (got < rowBytes) return Truncated(row, got, rowBytes);
  out->values.resize(static_cast<std::size_t>(dimensionOfShape_));
  for (std::size_t i = 0; i < out->values.size(); ++i) {
    unsigned char* p = &buffer_[i * elementSize_];
    if (bigEndian_) std::reverse(p, p + elementSize_);
    out->values[i] = elementSize_ == 4 ? static_cast<double>(std::bit_cast<float>(DecodeFixed32(p)))
                                       : DecodeDouble(p);
  }
  *more = true;
  return Status::OK();
}

}  // namespace simdex::cli
