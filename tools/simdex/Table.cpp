#include "tools/simdex/Table.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "platform/Assert.h"

namespace simdex::cli {
namespace {

// Characters of a UTF-8 text: every byte that does not continue a sequence.
std::size_t DisplayWidth(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 1 : 0;
  return n;
}

bool IsNumber(const std::string& cell) {
  if (cell.empty()) return false;
  const char* begin = cell.data();
  const char* end = begin + cell.size();
  if (*begin == '+' || *begin == '-') ++begin;
  // "nan" and "inf" are what the commands print for those values.
  const std::string rest(begin, end);
  if (rest == "nan" || rest == "inf") return true;
  double value = 0;
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec == std::errc()) return ptr == end;
  // Out of range for a double is still a number.
  return ec == std::errc::result_out_of_range && ptr == end;
}

void Pad(std::string* out, std::size_t n) { out->append(n, ' '); }

void StripTrailingSpaces(std::string* line) {
  while (!line->empty() && line->back() == ' ') line->pop_back();
}

}  // namespace

Table::Table(std::vector<std::string> header)
    : header_(std::move(header)), align_(header_.size()) {}

void Table::AddRow(std::vector<std::string> cells) {
  SIMDEX_ASSERT(cells.size() == header_.size(), "cells.size()==columns()");
  rows_.push_back(std::move(cells));
}

void Table::SetAlign(std::size_t column, Align align) {
  SIMDEX_ASSERT(column < header_.size(), "column<columns()");
  align_[column] = align;
}

std::string Table::ToText() const {
  const std::size_t n = header_.size();
  std::vector<std::size_t> width(n);
  std::vector<Align> align(n, Align::kLeft);
  for (std::size_t c = 0; c < n; ++c) {
    width[c] = DisplayWidth(header_[c]);
    bool numeric = !rows_.empty();
    for (const auto& r : rows_) {
      width[c] = std::max(width[c], DisplayWidth(r[c]));
      if (!r[c].empty() && !IsNumber(r[c])) numeric = false;
    }
    align[c] = align_[c].value_or(numeric ? Align::kRight : Align::kLeft);
  }
  std::string out;
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < n; ++c) {
      if (c > 0) text += "  ";
      const std::size_t gap = width[c] - DisplayWidth(cells[c]);
      if (align[c] == Align::kRight) Pad(&text, gap);
      text += cells[c];
      if (align[c] == Align::kLeft) Pad(&text, gap);
    }
    StripTrailingSpaces(&text);
    out += text;
    out += '\n';
  };
  line(header_);
  std::vector<std::string> rule(n);
  for (std::size_t c = 0; c < n; ++c) rule[c] = std::string(width[c], '-');
  line(rule);
  for (const auto& r : rows_) line(r);
  return out;
}

std::string Table::CsvField(const std::string& cell) {
  const bool quote = cell.find_first_of(",\"\r\n") != std::string::npos ||
                     (!cell.empty() && (cell.front() == ' ' || cell.back() == ' '));
  if (!quote) return cell;
  std::string out = "\"";
  for (char ch : cell) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
  return out;
}

std::string Table::ToCsv() const {
  std::string out;
  auto line = [&](const std::vector<std::string>& cells) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c > 0) out += ',';
      out += CsvField(cells[c]);
    }
    out += '\n';
  };
  line(header_);
  for (const auto& r : rows_) line(r);
  return out;
}

}  // namespace simdex::cli
