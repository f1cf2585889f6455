#pragma once
// Runs the built simdex command in a test: its exit status and everything it
// printed. Every run gets the registry of the fixture that owns it.
#include <string>
#include <vector>

namespace simdex::cli {

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs SIMDEX_TOOL with args (no shell); stdin is /dev/null.
ToolRun RunTool(const std::vector<std::string>& args);

// The whole content of a file ("" when it cannot be read).
std::string Slurp(const std::string& path);

// A temporary directory removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace simdex::cli
