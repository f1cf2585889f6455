// The writers: what they write reads back as written, and a bad row or an
// unfinished file leaves nothing behind that looks complete.
#include "tools/simdex/VectorWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

const std::vector<std::vector<double>> kRows = {
    {0.1, 1.0 / 3, -2.5e-300}, {1e300, 0, -0.0}, {4, 5.5, 6.125}};

TEST(VectorWriter, EveryFormatReadsBack) {
  struct Case {
    VectorFormat format;
    const char* file;
    bool float32;
  };
  for (const Case& c :
       {Case{VectorFormat::kFvecs, "w.fvecs", true}, Case{VectorFormat::kNpy, "w.npy", false},
        Case{VectorFormat::kCsv, "w.csv", false},
        Case{VectorFormat::kRawDoubles, "w.bin", false}}) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    const std::string path = dir.File(c.file);
    std::vector<std::vector<double>> rows = kRows;
    // float32 cannot hold 1e300.
    if (c.float32) rows[1][0] = 3e38;
    std::unique_ptr<VectorWriter> writer;
    ASSERT_TRUE(VectorWriter::Create(path, c.format, 3, &writer).ok());
    for (const auto& r : rows) ASSERT_TRUE(writer->Write(r).ok());
    ASSERT_TRUE(writer->Close().ok());

    ReaderOptions options;
    options.dimension = 3;
    std::vector<VectorRow> back;
    Status s = ReadAllRows(path, options, &back);
    ASSERT_TRUE(s.ok()) << s.ToString();
    ASSERT_EQ(back.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      for (std::size_t k = 0; k < 3; ++k) {
        const double want = c.float32 ? static_cast<float>(rows[i][k]) : rows[i][k];
        EXPECT_EQ(back[i].values[k], want) << "row " << i << " value " << k;
        EXPECT_EQ(std::signbit(back[i].values[k]), std::signbit(want));
      }
    }
  }
}

TEST(VectorWriter, RefusesBadRowsAndRemovesUnfinishedFiles) {
  TempDir dir;
  std::unique_ptr<VectorWriter> writer;
  EXPECT_TRUE(VectorWriter::Create(dir.File("b.bvecs"), VectorFormat::kBvecs, 3, &writer)
                  .IsInvalidArgument());
  EXPECT_TRUE(VectorWriter::Create(dir.File("z.bin"), VectorFormat::kRawDoubles, 0, &writer)
                  .IsInvalidArgument());
  EXPECT_TRUE(
      VectorWriter::Create(dir.File("missing/x.csv"), VectorFormat::kCsv, 3, &writer).IsIOError());

  const std::string path = dir.File("w.fvecs");
  ASSERT_TRUE(VectorWriter::Create(path, VectorFormat::kFvecs, 3, &writer).ok());
  ASSERT_TRUE(writer->Write(kRows[0]).ok());
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::vector<double> row;
    const char* message;
  } bad[] = {{{1, 2}, ": row 1: expected 3 values, found 2"},
             {{1, nan, 3}, ": row 1: value 1 (nan) is not finite"},
             {{1, 2, -1e39}, " does not fit float32"}};
  for (const auto& b : bad) {
    Status s = writer->Write(b.row);
    EXPECT_TRUE(s.IsInvalidArgument());
    EXPECT_NE(s.message().find(b.message), std::string::npos) << s.message();
  }
  EXPECT_EQ(writer->rows(), 1);
  EXPECT_TRUE(std::filesystem::exists(path));
  writer.reset();  // never closed
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace simdex::cli
