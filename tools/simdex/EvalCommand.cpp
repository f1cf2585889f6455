#include "tools/simdex/CommandContext.h"

#include <CLI/CLI.hpp>

namespace simdex::cli {

void AddEvalCommand(CLI::App& /*app*/, CommandContext& /*ctx*/) {}

}  // namespace simdex::cli
