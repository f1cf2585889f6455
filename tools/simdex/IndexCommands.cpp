#include "tools/simdex/CommandContext.h"

#include <CLI/CLI.hpp>

namespace simdex::cli {

void AddIndexCommands(CLI::App& /*app*/, CommandContext& /*ctx*/) {}

}  // namespace simdex::cli
