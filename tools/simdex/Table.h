#pragma once
// A small table of text cells under a header row, printed either as aligned
// text for people or as CSV for programs. The commands build their tables
// with it so that every table of the tool looks and quotes the same way.
//
// Text: columns padded to their widest cell (counted in UTF-8 characters) and
// separated by two spaces, a line of dashes under the header; a column whose
// body cells are all numbers is right-aligned unless told otherwise. Lines
// end with '\n' and carry no trailing spaces.
// CSV: the header line then one line per row, '\n' line ends; a cell holding
// a comma, a double quote, a CR or LF, or a leading or trailing space is
// quoted, with its double quotes doubled (RFC 4180).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace simdex::cli {

class Table {
 public:
  enum class Align { kLeft, kRight };

  explicit Table(std::vector<std::string> header);

  // Appends a row; it must have exactly one cell per column.
  void AddRow(std::vector<std::string> cells);
  // Overrides the automatic alignment of column (< columns()).
  void SetAlign(std::size_t column, Align align);

  std::size_t columns() const { return header_.size(); }
  std::size_t rows() const { return rows_.size(); }
  const std::vector<std::string>& header() const { return header_; }
  const std::vector<std::string>& row(std::size_t i) const { return rows_[i]; }

  std::string ToText() const;
  std::string ToCsv() const;

  // One CSV field, quoted when it has to be.
  static std::string CsvField(const std::string& cell);

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::optional<Align>> align_;
};

}  // namespace simdex::cli
