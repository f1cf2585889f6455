#pragma once
// Reads rows of doubles from the vector files the simdex command accepts:
//   .fvecs  TEXMEX: per row int32 d, then d float32 (little-endian)
//   .bvecs  TEXMEX: per row int32 d, then d uint8
//   .npy    NumPy: 2-D, C order, float32 or float64 (either byte order)
//   .csv    text: one row per line, numbers separated by commas; a first
//           line that is not numeric is a header
//   .bin    raw little-endian float64, no header (the dimension must be given)
// The format comes from the extension unless given. Rows are numbered from 0
// in file order. Every failure names the file and, when it concerns a row, the
// row: "FILE: row N: ..." (a wrong dimension, NaN or infinity, a truncated
// row, a value that is not a number).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace simdex::cli {

enum class VectorFormat { kFvecs, kBvecs, kNpy, kCsv, kRawDoubles };

// "fvecs", "bvecs", "npy", "csv", "bin"; empty text: from the extension.
Status ParseVectorFormat(const std::string& path, const std::string& text, VectorFormat* format);

struct VectorRow {
  std::int64_t row = 0;
  std::vector<double> values;
  // The identifier read from the CSV column chosen by idColumn.
  std::optional<std::uint32_t> id;
};

struct ReaderOptions {
  std::optional<VectorFormat> format;  // else from the extension
  int dimension = 0;                   // > 0: every row must have it (required for .bin)
  int idColumn = -1;                   // CSV only: this 0-based column is the identifier
};

class VectorReader {
 public:
  static Status Open(const std::string& path, const ReaderOptions& options,
                     std::unique_ptr<VectorReader>* reader);
  virtual ~VectorReader() = default;

  // The next row into *row; *more = false (and *row untouched) at the end.
  virtual Status Next(VectorRow* row, bool* more) = 0;
  // Rows in the file when known without reading it (for progress).
  virtual std::optional<std::int64_t> RowCount() const = 0;
  const std::string& path() const { return path_; }

 protected:
  explicit VectorReader(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

// Reads every row of path (for queries and small files).
Status ReadAllRows(const std::string& path, const ReaderOptions& options,
                   std::vector<VectorRow>* rows);

}  // namespace simdex::cli
