#include "tools/simdex/CommandContext.h"

#include <cstdio>

namespace simdex::cli {

void CommandContext::Finish(const std::string& command, const Status& s) {
  if (s.ok()) return;
  std::fprintf(stderr, "simdex %s: %s\n", command.c_str(), s.ToString().c_str());
  exitCode = 1;
}

}  // namespace simdex::cli
