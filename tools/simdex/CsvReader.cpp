#include "tools/simdex/CsvReader.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>

namespace simdex::cli {
namespace {

constexpr std::size_t kChunk = 1 << 16;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

// The comma-separated fields of a line, trimmed.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  for (;;) {
    const std::size_t comma = line.find(',');
    out.push_back(Trim(line.substr(0, comma)));
    if (comma == std::string_view::npos) return out;
    line.remove_prefix(comma + 1);
  }
}

// Parses a whole field as a double (NaN and infinities included: the caller
// names them).
bool ParseNumber(std::string_view s, double* v) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ParseId(std::string_view s, std::uint32_t* id) {
  std::uint64_t v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() ||
      v > std::numeric_limits<std::uint32_t>::max()) {
    return false;
  }
  *id = static_cast<std::uint32_t>(v);
  return true;
}

// A field for a message, cut short when long.
std::string Quote(std::string_view s) {
  constexpr std::size_t kShown = 40;
  return "'" + std::string(s.substr(0, kShown)) + (s.size() > kShown ? "...'" : "'");
}

// A header names its columns: not one of its fields is a number. A first line
// with some numbers is data, so a typo in it is reported, not dropped.
bool AnyNumber(const std::string& line) {
  double v = 0;
  for (std::string_view f : Fields(line)) {
    if (ParseNumber(f, &v)) return true;
  }
  return false;
}

bool Empty(const std::string& line) {
  for (char c : line) {
    if (!IsSpace(c)) return false;
  }
  return true;
}

}  // namespace

CsvReader::CsvReader(std::unique_ptr<InputFile> file, int dimension, int idColumn)
    : VectorReader(file->path(), dimension),
      file_(std::move(file)),
      idColumn_(idColumn),
      chunk_(kChunk) {}

Status CsvReader::Open(std::unique_ptr<InputFile> file, int dimension, int idColumn,
                       std::unique_ptr<VectorReader>* reader) {
  std::unique_ptr<CsvReader> r(new CsvReader(std::move(file), dimension, idColumn));
  std::string first;
  bool got = false;
  SIMDEX_RETURN_IF_ERROR(r->ReadLine(&first, &got));
  // A byte order mark from spreadsheet exports is not part of the data.
  if (got && first.starts_with("\xEF\xBB\xBF")) first.erase(0, 3);
  if (got && !Empty(first) && AnyNumber(first)) {
    r->line_ = 1;
  } else if (got) {
    // A header, or an empty line that only more empty lines may follow.
    const bool empty = Empty(first);
    SIMDEX_RETURN_IF_ERROR(r->NextNonEmptyLine(&first, &got));
    if (empty) r->firstEmptyLine_ = 1;
    if (got && r->firstEmptyLine_ != 0) return r->EmptyLineError(0);
  }
  if (!got) return Status::InvalidArgument(r->path() + ": no vectors");
  r->pending_ = std::move(first);
  *reader = std::move(r);
  return Status::OK();
}

Status CsvReader::ReadLine(std::string* line, bool* got) {
  line->clear();
  *got = false;
  for (;;) {
    if (chunkPos_ == chunkEnd_) {
      std::size_t n = 0;
      SIMDEX_RETURN_IF_ERROR(file_->Read(chunk_, &n));
      chunkPos_ = 0;
      chunkEnd_ = n;
      if (n == 0) break;
    }
    *got = true;
    const unsigned char* begin = chunk_.data() + chunkPos_;
    const unsigned char* end = chunk_.data() + chunkEnd_;
    const unsigned char* nl = std::find(begin, end, '\n');
    line->append(begin, nl);
    chunkPos_ = static_cast<std::size_t>(nl - chunk_.data());
    if (nl != end) {
      ++chunkPos_;
      break;
    }
  }
  if (!*got) return Status::OK();
  ++lines_;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return Status::OK();
}

Status CsvReader::NextNonEmptyLine(std::string* line, bool* got) {
  firstEmptyLine_ = 0;
  for (;;) {
    SIMDEX_RETURN_IF_ERROR(ReadLine(line, got));
    if (!*got) return Status::OK();
    if (!Empty(*line)) {
      line_ = lines_;
      return Status::OK();
    }
    if (firstEmptyLine_ == 0) firstEmptyLine_ = lines_;
  }
}

Status CsvReader::EmptyLineError(std::int64_t row) const {
  return Status::InvalidArgument(path() + ": row " + std::to_string(row) + " (line " +
                                 std::to_string(firstEmptyLine_) +
                                 "): empty line (allowed only at the end)");
}

std::string CsvReader::Where(std::int64_t row) const {
  return "row " + std::to_string(row) + " (line " + std::to_string(line_) + ")";
}

Status CsvReader::ReadRow(std::int64_t row, VectorRow* out, bool* more) {
  *more = false;
  std::string line;
  if (pending_) {
    line = std::move(*pending_);
    pending_.reset();
  } else {
    bool got = false;
    SIMDEX_RETURN_IF_ERROR(NextNonEmptyLine(&line, &got));
    if (!got) return Status::OK();
    if (firstEmptyLine_ != 0) return EmptyLineError(row);
  }
  const std::vector<std::string_view> fields = Fields(line);
  out->values.clear();
  out->values.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (static_cast<int>(i) == idColumn_) {
      std::uint32_t id = 0;
      if (!ParseId(fields[i], &id)) {
        return RowError(row,
                        "identifier " + Quote(fields[i]) + " is not an integer in 0..4294967295");
      }
      out->id = id;
      continue;
    }
    double v = 0;
    if (!ParseNumber(fields[i], &v)) return RowError(row, Quote(fields[i]) + " is not a number");
    out->values.push_back(v);
  }
  if (idColumn_ >= 0 && !out->id) {
    return RowError(row, "no column " + std::to_string(idColumn_) + " for the identifier (" +
                             std::to_string(fields.size()) + " columns)");
  }
  *more = true;
  return Status::OK();
}

}  // namespace simdex::cli
