#include "tools/simdex/ToolRunner_test.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace simdex::cli {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "simdex-cli-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ToolRun RunTool(const std::vector<std::string>& args) {
  TempDir capture;
  const std::string outFile = capture.File("out");
  const std::string errFile = capture.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> argv0{SIMDEX_TOOL};
  argv0.insert(argv0.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv0) argv.push_back(a.data());
  argv.push_back(nullptr);
  ToolRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, SIMDEX_TOOL, &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = Slurp(outFile);
  run.err = Slurp(errFile);
  return run;
}

}  // namespace simdex::cli
