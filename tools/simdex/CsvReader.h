#pragma once
// Comma-separated text: one vector per line, optional spaces (or double
// quotes) around each number, CRLF or LF line ends. A first line that holds
// anything but numbers is a header. Empty lines are allowed only at the end.
// One column may hold the identifier of the row (an integer 0..2^32-1); it is
// not one of the values.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/simdex/InputFile.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {

class CsvReader final : public VectorReader {
 public:
  // dimension > 0: every row must have it; idColumn >= 0: that 0-based
  // column is the identifier.
  static Status Open(std::unique_ptr<InputFile> file, int dimension, int idColumn,
                     std::unique_ptr<VectorReader>* reader);

  // Unknown without reading the whole file.
  std::optional<std::int64_t> RowCount() const override { return std::nullopt; }

 protected:
  Status ReadRow(std::int64_t row, VectorRow* out, bool* more) override;
  std::string Where(std::int64_t row) const override;

 private:
  CsvReader(std::unique_ptr<InputFile> file, int dimension, int idColumn);

  // The next line without its line end into *line; false at the end.
  Status ReadLine(std::string* line, bool* got);
  // Finds the next line that is not empty: *got = false when only empty
  // lines remain. Sets line_ to its number.
  Status NextNonEmptyLine(std::string* line, bool* got);
  // Reports an empty line followed by more data.
  Status EmptyLineError(std::int64_t row) const;

  std::unique_ptr<InputFile> file_;
  int idColumn_;
  std::vector<unsigned char> chunk_;
  std::size_t chunkPos_ = 0;
  std::size_t chunkEnd_ = 0;
  std::int64_t lines_ = 0;  // lines read so far
  std::int64_t line_ = 0;   // number (from 1) of the line of the current row
  std::int64_t firstEmptyLine_ = 0;
  std::optional<std::string> pending_;  // a data line read ahead by Open
};

}  // namespace simdex::cli
