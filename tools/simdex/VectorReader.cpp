#include "tools/simdex/VectorReader.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "tools/simdex/CsvReader.h"
#include "tools/simdex/InputFile.h"
#include "tools/simdex/NpyReader.h"
#include "tools/simdex/RawDoublesReader.h"
#include "tools/simdex/TexmexReader.h"

namespace simdex::cli {
namespace {

struct FormatName {
  VectorFormat format;
  const char* name;
};
constexpr FormatName kFormats[] = {{VectorFormat::kFvecs, "fvecs"},
                                   {VectorFormat::kBvecs, "bvecs"},
                                   {VectorFormat::kNpy, "npy"},
                                   {VectorFormat::kCsv, "csv"},
                                   {VectorFormat::kRawDoubles, "bin"}};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

Status ParseVectorFormat(const std::string& path, const std::string& text, VectorFormat* format) {
  std::string name = Lower(text);
  if (name.empty()) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
      name = Lower(path.substr(dot + 1));
    }
    if (name.empty()) {
      return Status::InvalidArgument(path +
                                     ": no file extension to tell the format (give it: fvecs, "
                                     "bvecs, npy, csv or bin)");
    }
  }
  for (const FormatName& f : kFormats) {
    if (name == f.name) {
      *format = f.format;
      return Status::OK();
    }
  }
  if (text.empty()) {
    return Status::InvalidArgument(path + ": unknown file type '." + name +
                                   "' (use .fvecs, .bvecs, .npy, .csv or .bin, or give the "
                                   "format)");
  }
  return Status::InvalidArgument("unknown vector format '" + text +
                                 "' (fvecs, bvecs, npy, csv or bin)");
}

const char* VectorFormatName(VectorFormat format) {
  for (const FormatName& f : kFormats) {
    if (f.format == format) return f.name;
  }
  return "?";
}

Status VectorReader::Open(const std::string& path, const ReaderOptions& options,
                          std::unique_ptr<VectorReader>* reader) {
  VectorFormat format;
  if (options.format) {
    format = *options.format;
  } else {
    SIMDEX_RETURN_IF_ERROR(ParseVectorFormat(path, "", &format));
  }
  if (options.dimension < 0) {
    return Status::InvalidArgument(path + ": the dimension must be positive, not " +
                                   std::to_string(options.dimension));
  }
  if (options.idColumn >= 0 && format != VectorFormat::kCsv) {
    return Status::InvalidArgument(path + ": an identifier column needs a CSV file");
  }
  if (format == VectorFormat::kRawDoubles && options.dimension == 0) {
    return Status::InvalidArgument(path + ": a raw float64 file has no header: give its dimension");
  }
  std::unique_ptr<InputFile> file;
  SIMDEX_RETURN_IF_ERROR(InputFile::Open(path, &file));
  switch (format) {
    case VectorFormat::kFvecs:
    case VectorFormat::kBvecs:
      return TexmexReader::Open(
          std::move(file),
          format == VectorFormat::kFvecs ? TexmexReader::kFloat32 : TexmexReader::kUint8,
          options.dimension, reader);
    case VectorFormat::kNpy:
      return NpyReader::Open(std::move(file), options.dimension, reader);
    case VectorFormat::kCsv:
      return CsvReader::Open(std::move(file), options.dimension, options.idColumn, reader);
    case VectorFormat::kRawDoubles:
      return RawDoublesReader::Open(std::move(file), options.dimension, reader);
  }
  return Status::InvalidArgument(path + ": unknown vector format");
}

Status VectorReader::Next(VectorRow* row, bool* more) {
  *more = false;
  if (!failure_.ok()) return failure_;
  VectorRow next;
  next.row = nextRow_;
  failure_ = ReadRow(nextRow_, &next, more);
  if (failure_.ok() && *more) {
    failure_ = CheckCount(nextRow_, next.values.size());
    for (std::size_t i = 0; failure_.ok() && i < next.values.size(); ++i) {
      if (std::isnan(next.values[i])) {
        failure_ = RowError(nextRow_, "value " + std::to_string(i) + " is NaN");
      } else if (std::isinf(next.values[i])) {
        failure_ = RowError(nextRow_, "value " + std::to_string(i) + " is infinite");
      }
    }
  }
  if (!failure_.ok()) {
    *more = false;
    return failure_;
  }
  if (!*more) return Status::OK();
  ++nextRow_;
  *row = std::move(next);
  return Status::OK();
}

std::string VectorReader::Where(std::int64_t row) const { return "row " + std::to_string(row); }

Status VectorReader::RowError(std::int64_t row, const std::string& what) const {
  return Status::InvalidArgument(path_ + ": " + Where(row) + ": " + what);
}

Status VectorReader::Truncated(std::int64_t row, std::uint64_t have, std::uint64_t want) const {
  return Status::Corruption(path_ + ": " + Where(row) + ": truncated (file ends after " +
                            std::to_string(have) + " of " + std::to_string(want) + " bytes)");
}

Status VectorReader::CheckCount(std::int64_t row, std::uint64_t found) {
  if (dimension_ == 0) {
    if (found == 0) return RowError(row, "no values");
    // Dimensions are ints everywhere downstream (and int32 in the files).
    if (found > 0x7fffffff) return RowError(row, std::to_string(found) + " values are too many");
    dimension_ = static_cast<int>(found);
    return Status::OK();
  }
  if (found != static_cast<std::uint64_t>(dimension_)) {
    return RowError(
        row, "expected " + std::to_string(dimension_) + " values, found " + std::to_string(found));
  }
  return Status::OK();
}

Status MakeReaderOptions(const std::string& path, const std::string& formatText, int dimension,
                         ReaderOptions* options) {
  VectorFormat format;
  SIMDEX_RETURN_IF_ERROR(ParseVectorFormat(path, formatText, &format));
  ReaderOptions o;
  o.format = format;
  o.dimension = dimension;
  *options = o;
  return Status::OK();
}

Status ReadAllRows(const std::string& path, const ReaderOptions& options,
                   std::vector<VectorRow>* rows) {
  std::unique_ptr<VectorReader> reader;
  SIMDEX_RETURN_IF_ERROR(VectorReader::Open(path, options, &reader));
  rows->clear();
  if (auto n = reader->RowCount()) rows->reserve(static_cast<std::size_t>(*n));
  for (;;) {
    VectorRow row;
    bool more = false;
    SIMDEX_RETURN_IF_ERROR(reader->Next(&row, &more));
    if (!more) return Status::OK();
    rows->push_back(std::move(row));
  }
}

}  // namespace simdex::cli
