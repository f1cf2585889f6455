#pragma once
// Reads rows of doubles from the vector files the simdex command accepts:
//   .fvecs  TEXMEX: per row int32 d, then d float32 (little-endian)
//   .bvecs  TEXMEX: per row int32 d, then d uint8
//   .npy    NumPy: 2-D, C order, float32 or float64 (either byte order)
//   .csv    text: one row per line, numbers separated by commas; a first
//           line without a single number in it is a header
//   .bin    raw little-endian float64, no header (the dimension must be given)
// The format comes from the extension unless given. Rows are numbered from 0
// in file order. Every failure names the file and, when it concerns a row, the
// row: "FILE: row N: ..." (a wrong dimension, NaN or infinity, a truncated
// row, a value that is not a number). A file without any row fails to open
// ("FILE: no vectors"). After a failure, Next keeps answering that failure.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace simdex::cli {

enum class VectorFormat { kFvecs, kBvecs, kNpy, kCsv, kRawDoubles };

// "fvecs", "bvecs", "npy", "csv", "bin"; empty text: from the extension.
Status ParseVectorFormat(const std::string& path, const std::string& text, VectorFormat* format);

// The name ParseVectorFormat accepts for format ("fvecs", ...).
const char* VectorFormatName(VectorFormat format);

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
  VectorReader(const VectorReader&) = delete;
  VectorReader& operator=(const VectorReader&) = delete;

  // The next row into *row; *more = false (and *row untouched) at the end.
  // Every row returned has dimension() finite values.
  Status Next(VectorRow* row, bool* more);
  // Rows in the file when known without reading it (for progress).
  virtual std::optional<std::int64_t> RowCount() const = 0;
  const std::string& path() const { return path_; }
  // Values per row: the given dimension, else the first row's (0 while a CSV
  // file's first row has not been returned).
  int dimension() const { return dimension_; }

 protected:
  VectorReader(std::string path, int dimension) : path_(std::move(path)), dimension_(dimension) {}

  // Decodes row number `row` into row->values (and row->id); *more = false
  // at the end of the file. The caller checks the count and the values.
  virtual Status ReadRow(std::int64_t row, VectorRow* out, bool* more) = 0;
  // How messages name a row: "row N" (CSV adds the line).
  virtual std::string Where(std::int64_t row) const;

  // A failure about row `row`: "PATH: row N: what".
  Status RowError(std::int64_t row, const std::string& what) const;
  // "PATH: row N: truncated (file ends after X of Y bytes)".
  Status Truncated(std::int64_t row, std::uint64_t have, std::uint64_t want) const;
  // Checks that row `row` has `found` values: the dimension when one is
  // known, else found becomes the dimension.
  Status CheckCount(std::int64_t row, std::uint64_t found);

 private:
  std::string path_;
  int dimension_;
  std::int64_t nextRow_ = 0;
  Status failure_;
};

// Options for reading path: the format named by formatText (empty: from the
// extension, so an unknown one fails here already) and the dimension every
// row must have (0: any, the first row's).
Status MakeReaderOptions(const std::string& path, const std::string& formatText, int dimension,
                         ReaderOptions* options);

// Reads every row of path (for queries and small files).
Status ReadAllRows(const std::string& path, const ReaderOptions& options,
                   std::vector<VectorRow>* rows);

}  // namespace simdex::cli
