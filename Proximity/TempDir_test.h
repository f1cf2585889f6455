#pragma once
// Test helper: a fresh directory removed with everything in it at the end of
// the test, and a regex for the process's assertion report.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace simdex::testing_support {

class TempDir {
 public:
  TempDir() {
    std::string pattern = ::testing::TempDir() + "simdex-XXXXXX";
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  std::string Path(const std::string& name) const { return path_ + "/" + name; }

  std::string Write(const std::string& name, const std::string& content) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out << content;
    return Path(name);
  }

  static std::string Read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
};

// Regex matching the assertion report of `expression` (taken literally).
inline std::string AssertionReport(const std::string& expression) {
  std::string escaped;
  for (char c : expression) {
    if (std::string(".[]()*+?{}|^$\\").find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return "Assertion failed: " + escaped + ", file .*, line [0-9]+";
}

}  // namespace simdex::testing_support
