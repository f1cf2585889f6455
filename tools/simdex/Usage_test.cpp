// The command's own surface: help, unknown commands and options.
#include <gtest/gtest.h>

#include "tools/simdex/ToolRunner_test.h"

namespace simdex::cli {
namespace {

TEST(Usage, HelpListsCommandsAndBadUsageExitsWithTwo) {
  ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("simdex"), std::string::npos);
  EXPECT_EQ(RunTool({}).exitCode, 2);
  EXPECT_EQ(RunTool({"no-such-command"}).exitCode, 2);
}

}  // namespace
}  // namespace simdex::cli
