// simdex plot through the built command. The plot reads only the statistics
// files of an index directory, so these tests write them by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// A measured density over [0, 1.5] with 10 intervals and its distribution,
// as the statistics pass writes them.
class PlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream density(dir_.File("Density.dat"));
    std::ofstream distribution(dir_.File("Distribution.dat"));
    density << "0 1.5 10\n";
    distribution << "0 1.5 10\n";
    double sum = 0;
    for (int i = 0; i <= 10; ++i) {
      const double x = 0.15 * i;
      const double y = i < 5 ? 0.2 * i : 0.2 * (10 - i);
      sum += y * 0.15;
      density << x << ' ' << y << '\n';
      distribution << x << ' ' << sum << '\n';
    }
    std::ofstream(dir_.File("TreeStats.dat")) << "0 0.7 120\n0 0.8 80\n";
  }

  TempDir dir_;
};

TEST_F(PlotTest, DrawsPngAndSvgOfTheGivenSize) {
  ToolRun run = RunTool({"plot", dir_.path(), "--size", "640x480"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string png = Slurp(dir_.File("distribution.png"));
  ASSERT_GE(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // The header chunk: width and height, big-endian.
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(BigEndian32(png, 16), 640u);
  EXPECT_EQ(BigEndian32(png, 20), 480u);
  EXPECT_NE(run.out.find("wrote " + dir_.File("distribution.png")), std::string::npos);

  run = RunTool({"plot", dir_.path(), "-o", dir_.File("d.SVG")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string svg = Slurp(dir_.File("d.SVG"));
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("<svg"), std::string::npos);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  // The title names the index and its object count.
  EXPECT_NE(svg.find(dir_.path() + ": 200 objects"), std::string::npos);
}

TEST_F(PlotTest, FailuresAreClearAndLeaveNoImage) {
  TempDir empty;
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"plot", dir_.path(), "-o", dir_.File("d.jpg")},
       "unknown image type '.jpg', use .png or .svg"},
      {{"plot", dir_.path(), "-o", dir_.File("d")}, "unknown image type (no extension)"},
      {{"plot", empty.path()}, empty.path() + " has no Density.dat"},
      {{"plot", dir_.path(), "--size", "64"}, "bad size '64'"},
      {{"plot", dir_.path(), "-o", dir_.File("no/such/dir.png")}, "cannot write"},
  };
  for (const Case& c : cases) {
    ToolRun run = RunTool(c.args);
    EXPECT_EQ(run.exitCode, 1) << c.message;
    EXPECT_NE(run.err.find("simdex plot: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  // Only the index's own files remain.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 3);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(empty.path()), {}), 0);
}

TEST_F(PlotTest, MissingOrFailingGnuplotIsReported) {
  const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  TempDir programs;
  ::setenv("PATH", programs.path().c_str(), 1);
  ToolRun missing = RunTool({"plot", dir_.path()});
  // A gnuplot that fails: its messages reach the user.
  const std::string fake = programs.File("gnuplot");
  std::ofstream(fake) << "#!/bin/sh\necho 'line 7: unknown terminal' >&2\nexit 1\n";
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  ToolRun failing = RunTool({"plot", dir_.path()});
  ::setenv("PATH", saved.c_str(), 1);

  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("gnuplot not found: install the Debian package gnuplot-nox"),
            std::string::npos)
      << missing.err;
  EXPECT_EQ(failing.exitCode, 1);
  EXPECT_NE(failing.err.find("gnuplot could not draw " + dir_.File("distribution.png") +
                             ":\nline 7: unknown terminal"),
            std::string::npos)
      << failing.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 3);
}

}  // namespace
}  // namespace simdex::cli
