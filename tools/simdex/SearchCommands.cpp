#include "tools/simdex/CommandContext.h"

#include <CLI/CLI.hpp>

namespace simdex::cli {

void AddSearchCommands(CLI::App& /*app*/, CommandContext& /*ctx*/) {}

}  // namespace simdex::cli
