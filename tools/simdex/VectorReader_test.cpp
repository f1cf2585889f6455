// The vector file readers: every format yields the same rows, and damaged
// files fail with a message naming the file and the row.
#include "tools/simdex/VectorReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>

#include "platform/Coding.h"
#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

using Rows = std::vector<std::vector<double>>;
using Bytes = std::string;

// Values every format holds exactly, uint8 included.
const Rows kRows = {{0, 1, 2, 3}, {255, 128, 7, 64}, {9, 8, 0, 5}};

void Put32(Bytes* b, std::uint32_t v) {
  unsigned char p[4];
  EncodeFixed32(p, v);
  b->append(reinterpret_cast<char*>(p), 4);
}
void PutDouble(Bytes* b, double v) {
  unsigned char p[8];
  EncodeDouble(p, v);
  b->append(reinterpret_cast<char*>(p), 8);
}
void PutBigEndian(Bytes* b, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b->push_back(static_cast<char>(v >> (8 * i)));
}

Bytes Fvecs(const Rows& rows) {
  Bytes b;
  for (const auto& r : rows) {
    Put32(&b, static_cast<std::uint32_t>(r.size()));
    for (double v : r) Put32(&b, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
  }
  return b;
}

Bytes Bvecs(const Rows& rows) {
  Bytes b;
  for (const auto& r : rows) {
    Put32(&b, static_cast<std::uint32_t>(r.size()));
    for (double v : r) b.push_back(static_cast<char>(static_cast<unsigned char>(v)));
  }
  return b;
}

Bytes Doubles(const Rows& rows) {
  Bytes b;
  for (const auto& r : rows) {
    for (double v : r) PutDouble(&b, v);
  }
  return b;
}

// An .npy file: preamble, the header dictionary padded to a multiple of 64
// bytes, then payload.
Bytes Npy(const std::string& dict, const Bytes& payload, int major = 1) {
  const std::size_t pre = major == 1 ? 10 : 12;
  std::string header = dict;
  while ((pre + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  Bytes b = "\x93NUMPY";
  b.push_back(static_cast<char>(major));
  b.push_back(0);
  if (major == 1) {
    b.push_back(static_cast<char>(header.size() & 0xff));
    b.push_back(static_cast<char>(header.size() >> 8));
  } else {
    Put32(&b, static_cast<std::uint32_t>(header.size()));
  }
  return b + header + payload;
}

std::string Dict(const std::string& descr, const std::string& shape, bool fortran = false) {
  return "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
         ", 'shape': " + shape + ", }";
}

// The payload of rows as float32 or float64, little- or big-endian.
Bytes NpyPayload(const Rows& rows, int bytes, bool bigEndian) {
  Bytes b;
  for (const auto& r : rows) {
    for (double v : r) {
      const std::uint64_t bits = bytes == 4 ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                                            : std::bit_cast<std::uint64_t>(v);
      if (bigEndian) {
        PutBigEndian(&b, bits, bytes);
      } else if (bytes == 4) {
        Put32(&b, static_cast<std::uint32_t>(bits));
      } else {
        PutDouble(&b, v);
      }
    }
  }
  return b;
}

std::string WriteFile(const TempDir& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir.File(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

ReaderOptions WithDimension(int d) {
  ReaderOptions o;
  o.dimension = d;
  return o;
}
ReaderOptions WithIdColumn(int c) {
  ReaderOptions o;
  o.idColumn = c;
  return o;
}

struct FormatCase {
  const char* name;
  const char* file;
  std::function<Bytes()> bytes;
  int dimension;  // option given to the reader
  bool counted;   // RowCount known up front
};

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

class ReaderFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ReaderFormats, ReadTheSameRows) {
  const FormatCase& c = GetParam();
  TempDir dir;
  const std::string path = WriteFile(dir, c.file, c.bytes());
  ReaderOptions options;
  options.dimension = c.dimension;
  std::unique_ptr<VectorReader> reader;
  ASSERT_TRUE(VectorReader::Open(path, options, &reader).ok());
  if (c.counted) {
    EXPECT_EQ(reader->RowCount(), std::optional<std::int64_t>(3));
  } else {
    EXPECT_EQ(reader->RowCount(), std::nullopt);
  }
  Rows got;
  VectorRow row;
  bool more = true;
  while (true) {
    Status s = reader->Next(&row, &more);
    ASSERT_TRUE(s.ok()) << s.ToString();
    if (!more) break;
    EXPECT_EQ(row.row, static_cast<std::int64_t>(got.size()));
    EXPECT_FALSE(row.id.has_value());
    got.push_back(row.values);
  }
  EXPECT_EQ(got, kRows);
  EXPECT_EQ(reader->dimension(), 4);
  // The end stays the end.
  ASSERT_TRUE(reader->Next(&row, &more).ok());
  EXPECT_FALSE(more);
}

INSTANTIATE_TEST_SUITE_P(
    All, ReaderFormats,
    ::testing::Values(
        FormatCase{"fvecs", "a.fvecs", [] { return Fvecs(kRows); }, 0, true},
        FormatCase{"fvecsWithDimension", "a.fvecs", [] { return Fvecs(kRows); }, 4, true},
        FormatCase{"bvecs", "a.bvecs", [] { return Bvecs(kRows); }, 0, true},
        FormatCase{"bin", "a.bin", [] { return Doubles(kRows); }, 4, true},
        FormatCase{"npyF8", "a.npy",
                   [] { return Npy(Dict("<f8", "(3, 4)"), NpyPayload(kRows, 8, false)); }, 0, true},
        FormatCase{"npyF4", "a.npy",
                   [] { return Npy(Dict("<f4", "(3, 4)"), NpyPayload(kRows, 4, false)); }, 0, true},
        FormatCase{"npyBigEndianF8", "a.npy",
                   [] { return Npy(Dict(">f8", "(3, 4)"), NpyPayload(kRows, 8, true)); }, 4, true},
        FormatCase{"npyBigEndianF4", "a.npy",
                   [] { return Npy(Dict(">f4", "(3, 4)"), NpyPayload(kRows, 4, true)); }, 0, true},
        FormatCase{"npyVersion2KeysInOtherOrder", "a.npy",
                   [] {
                     return Npy(
                         "{\"shape\": (3L, 4L), \"fortran_order\": False, "
                         "\"descr\": \"<f8\"}",
                         NpyPayload(kRows, 8, false), 2);
                   },
                   0, true},
        FormatCase{"npyVersion3", "a.npy",
                   [] { return Npy(Dict("<f4", "(3,4)"), NpyPayload(kRows, 4, false), 3); }, 0,
                   true},
        FormatCase{"csvPlain", "a.csv", [] { return Bytes("0,1,2,3\n255,128,7,64\n9,8,0,5"); }, 0,
                   false},
        FormatCase{"csvHeaderCrlfSpacesQuotesBlankEnd", "a.CSV",
                   [] {
                     return Bytes(
                         "\xEF\xBB\xBF\"x\",\"y\",z,w\r\n 0 , 1,+2,3e0\r\n255,1.28e2,\"7\","
                         "64.000\r\n9,8,-0,5\r\n\r\n  \n");
                   },
                   0, false}),
    CaseName<FormatCase>);

TEST(ReaderSample, FvecsAndRawDoublesOfTheSampleAgree) {
  for (const std::string name : {"hist45-small", "hist144-small_query"}) {
    const std::string base = std::string(SIMDEX_SAMPLE_DATA_DIR) + "/" + name;
    std::vector<VectorRow> fromFvecs, fromBin;
    ASSERT_TRUE(ReadAllRows(base + ".fvecs", {}, &fromFvecs).ok());
    const int dim = static_cast<int>(fromFvecs.front().values.size());
    ASSERT_TRUE(ReadAllRows(base + ".bin", WithDimension(dim), &fromBin).ok());
    ASSERT_EQ(fromFvecs.size(), fromBin.size());
    for (std::size_t i = 0; i < fromFvecs.size(); ++i) {
      ASSERT_EQ(fromFvecs[i].values, fromBin[i].values) << name << " row " << i;
    }
  }
}

TEST(ReaderCsv, IdentifierColumnIsTakenOutOfTheValues) {
  TempDir dir;
  const std::string path = WriteFile(dir, "ids.csv", "id,a,b\n4294967295,0.5,1\n0, 2 ,3\n17,4,5\n");
  ReaderOptions options;
  options.idColumn = 0;
  std::vector<VectorRow> rows;
  ASSERT_TRUE(ReadAllRows(path, options, &rows).ok());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].id, std::optional<std::uint32_t>(4294967295u));
  EXPECT_EQ(rows[1].id, std::optional<std::uint32_t>(0u));
  EXPECT_EQ(rows[2].id, std::optional<std::uint32_t>(17u));
  EXPECT_EQ(rows[0].values, (std::vector<double>{0.5, 1}));
  EXPECT_EQ(rows[2].values, (std::vector<double>{4, 5}));
}

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

struct DamagedCase {
  const char* name;
  const char* file;
  std::function<Bytes()> bytes;
  ReaderOptions options;
  // Rows delivered before the failure; -1: Open fails.
  int goodRows;
  // Follows "PATH: " in the message.
  const char* message;
};

void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }

Rows With(Rows rows, std::size_t r, std::size_t i, double v) {
  rows[r][i] = v;
  return rows;
}

class ReaderDamaged : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(ReaderDamaged, FailsNamingFileAndRow) {
  const DamagedCase& c = GetParam();
  TempDir dir;
  // No bytes: no file at all.
  const std::string path = c.bytes ? WriteFile(dir, c.file, c.bytes()) : dir.File(c.file);
  const std::string expected = path + ": " + c.message;
  std::unique_ptr<VectorReader> reader;
  Status s = VectorReader::Open(path, c.options, &reader);
  int good = -1;
  if (s.ok()) {
    good = 0;
    VectorRow row;
    bool more = true;
    while ((s = reader->Next(&row, &more)).ok() && more) ++good;
    ASSERT_FALSE(s.ok()) << "read " << good << " rows without failing";
    EXPECT_FALSE(more);
    // The failure sticks.
    EXPECT_EQ(reader->Next(&row, &more).message(), s.message());
  }
  EXPECT_EQ(good, c.goodRows);
  EXPECT_NE(s.message().find(expected), std::string::npos)
      << s.ToString() << "\nexpected: " << expected;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    All, ReaderDamaged,
    ::testing::Values(
        DamagedCase{"fvecsWrongDimension",
                    "a.fvecs",
                    [] {
                      return Fvecs({{1, 2, 3}, {4, 5, 6}, {7, 8}});
                    },
                    {},
                    2,
                    "row 2: expected 3 values, found 2"},
        DamagedCase{"fvecsOtherThanGiven", "a.fvecs", [] { return Fvecs(kRows); },
                    WithDimension(45), 0, "row 0: expected 45 values, found 4"},
        DamagedCase{"fvecsNaN",
                    "a.fvecs",
                    [] { return Fvecs(With(kRows, 1, 3, kNaN)); },
                    {},
                    1,
                    "row 1: value 3 is NaN"},
        DamagedCase{"fvecsInfinity",
                    "a.fvecs",
                    [] { return Fvecs(With(kRows, 2, 0, -kInf)); },
                    {},
                    2,
                    "row 2: value 0 is infinite"},
        DamagedCase{"fvecsTruncatedRow",
                    "a.fvecs",
                    [] { return Fvecs(kRows).substr(0, 2 * 20 + 10); },
                    {},
                    2,
                    "row 2: truncated (file ends after 10 of 20 bytes)"},
        DamagedCase{"fvecsTruncatedHeader",
                    "a.fvecs",
                    [] { return Fvecs(kRows).substr(0, 20 + 2); },
                    {},
                    1,
                    "row 1: truncated (file ends after 2 of 20 bytes)"},
        DamagedCase{"fvecsHugeDimensionField",
                    "a.fvecs",
                    [] {
                      Bytes b;
                      Put32(&b, 0x7fffffff);
                      return b + "abcd";
                    },
                    {},
                    0,
                    "row 0: truncated (file ends after 8 of 8589934592 bytes)"},
        DamagedCase{"bvecsNegativeDimensionField",
                    "a.bvecs",
                    [] {
                      Bytes b = Bvecs(kRows);
                      Put32(&b, 0xfffffffe);
                      return b;
                    },
                    {},
                    3,
                    "row 3: bad dimension field -2"},
        DamagedCase{"binTruncatedRow", "a.bin", [] { return Doubles(kRows).substr(0, 32 + 8); },
                    WithDimension(4), 1, "row 1: truncated (file ends after 8 of 32 bytes)"},
        DamagedCase{"binWithoutDimension",
                    "a.bin",
                    [] { return Doubles(kRows); },
                    {},
                    -1,
                    "a raw float64 file has no header: give its dimension"},
        DamagedCase{"binNaN", "a.bin", [] { return Doubles(With(kRows, 0, 1, kNaN)); },
                    WithDimension(4), 0, "row 0: value 1 is NaN"},
        DamagedCase{"emptyFvecs", "a.fvecs", [] { return Bytes(); }, {}, -1, "no vectors"},
        DamagedCase{"emptyCsv", "a.csv", [] { return Bytes("x,y\n\n"); }, {}, -1, "no vectors"},
        DamagedCase{"emptyNpy",
                    "a.npy",
                    [] { return Npy(Dict("<f8", "(0, 4)"), ""); },
                    {},
                    -1,
                    "no vectors"},
        DamagedCase{"npyBadMagic",
                    "a.npy",
                    [] { return Bytes("\x93NUMPX\x01\x00\x10\x00"); },
                    {},
                    -1,
                    "not a NumPy .npy file"},
        DamagedCase{"npyVersion4",
                    "a.npy",
                    [] {
                      Bytes b = Npy(Dict("<f8", "(3, 4)"), NpyPayload(kRows, 8, false), 2);
                      b[6] = 4;
                      return b;
                    },
                    {},
                    -1,
                    "npy format version 4.0 is not supported"},
        DamagedCase{"npyHeaderLengthBeyondFile",
                    "a.npy",
                    [] { return Bytes("\x93NUMPY\x02\x00\xff\xff\xff\x7f{}", 14); },
                    {},
                    -1,
                    "bad npy header: length 2147483647 exceeds the file"},
        DamagedCase{"npyUnterminatedDict",
                    "a.npy",
                    [] { return Npy("{'descr': '<f8', 'fortran_order': False", ""); },
                    {},
                    -1,
                    "bad npy header: expected ',' or '}'"},
        DamagedCase{"npyMissingShape",
                    "a.npy",
                    [] { return Npy("{'descr': '<f8', 'fortran_order': False}", ""); },
                    {},
                    -1,
                    "bad npy header: no 'shape'"},
        DamagedCase{"npyFortranOrder",
                    "a.npy",
                    [] { return Npy(Dict("<f8", "(3, 4)", true), NpyPayload(kRows, 8, false)); },
                    {},
                    -1,
                    "npy array is in Fortran order"},
        DamagedCase{"npyOneDimensional",
                    "a.npy",
                    [] { return Npy(Dict("<f8", "(12,)"), NpyPayload(kRows, 8, false)); },
                    {},
                    -1,
                    "npy array has shape (12,); expected 2-D"},
        DamagedCase{"npyThreeDimensional",
                    "a.npy",
                    [] { return Npy(Dict("<f8", "(3, 2, 2)"), NpyPayload(kRows, 8, false)); },
                    {},
                    -1,
                    "npy array has shape (3, 2, 2); expected 2-D"},
        DamagedCase{"npyIntegers",
                    "a.npy",
                    [] { return Npy(Dict("<i4", "(3, 4)"), NpyPayload(kRows, 4, false)); },
                    {},
                    -1,
                    "npy arrays of type '<i4' are not supported"},
        DamagedCase{"npyObjects",
                    "a.npy",
                    [] { return Npy(Dict("|O", "(3, 4)"), ""); },
                    {},
                    -1,
                    "npy arrays of type '|O' are not supported"},
        DamagedCase{"npyTruncatedData",
                    "a.npy",
                    [] {
                      return Npy(Dict("<f8", "(3, 4)"),
                                 NpyPayload(kRows, 8, false).substr(0, 2 * 32 + 31));
                    },
                    {},
                    2,
                    "row 2: truncated (file ends after 31 of 32 bytes)"},
        DamagedCase{"npyBytesAfterArray",
                    "a.npy",
                    [] { return Npy(Dict("<f8", "(2, 4)"), NpyPayload(kRows, 8, false)); },
                    {},
                    -1,
                    "32 bytes after the end of the (2, 4) array"},
        DamagedCase{"npyOtherThanGiven", "a.npy",
                    [] { return Npy(Dict("<f8", "(3, 4)"), NpyPayload(kRows, 8, false)); },
                    WithDimension(3), 0, "row 0: expected 3 values, found 4"},
        DamagedCase{"csvBadToken",
                    "a.csv",
                    [] { return Bytes("a,b\n1,2\n3,abc\n"); },
                    {},
                    1,
                    "row 1 (line 3): 'abc' is not a number"},
        DamagedCase{"csvTypoInFirstRow",
                    "a.csv",
                    [] { return Bytes("1,2x\n3,4\n"); },
                    {},
                    0,
                    "row 0 (line 1): '2x' is not a number"},
        DamagedCase{"csvEmptyField",
                    "a.csv",
                    [] { return Bytes("1,2\n3,\n"); },
                    {},
                    1,
                    "row 1 (line 2): '' is not a number"},
        DamagedCase{"csvInfinity",
                    "a.csv",
                    [] { return Bytes("1,2\n3,-inf\n"); },
                    {},
                    1,
                    "row 1 (line 2): value 1 is infinite"},
        DamagedCase{"csvNaN",
                    "a.csv",
                    [] { return Bytes("1,nan\n"); },
                    {},
                    0,
                    "row 0 (line 1): value 1 is NaN"},
        DamagedCase{"csvShortRow",
                    "a.csv",
                    [] { return Bytes("1,2,3\r\n4,5\r\n"); },
                    {},
                    1,
                    "row 1 (line 2): expected 3 values, found 2"},
        DamagedCase{"csvEmptyLineInside",
                    "a.csv",
                    [] { return Bytes("1,2\n\n3,4\n"); },
                    {},
                    1,
                    "row 1 (line 2): empty line"},
        DamagedCase{"csvIdOutOfRange", "a.csv", [] { return Bytes("1,2\n4294967296,3\n"); },
                    WithIdColumn(0), 1,
                    "row 1 (line 2): identifier '4294967296' is not an integer in 0..4294967295"},
        DamagedCase{"csvIdNegative", "a.csv", [] { return Bytes("5,-1\n"); }, WithIdColumn(1), 0,
                    "row 0 (line 1): identifier '-1' is not an integer"},
        DamagedCase{"csvIdColumnMissing", "a.csv", [] { return Bytes("1,2,3\n4,5\n"); },
                    WithIdColumn(2), 1, "row 1 (line 2): no column 2 for the identifier"},
        DamagedCase{"unknownExtension",
                    "a.txt",
                    [] { return Fvecs(kRows); },
                    {},
                    -1,
                    "unknown file type '.txt'"},
        DamagedCase{
            "missingFile", "a.csv", nullptr, {}, -1, "cannot open: No such file or directory"}),
    CaseName<DamagedCase>);

}  // namespace
}  // namespace simdex::cli
