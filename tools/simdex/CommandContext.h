#pragma once
// What every subcommand of the simdex command shares: the global options and
// the way a subcommand ends. A subcommand's callback does its work and calls
// Finish once; main returns exitCode.
//
// Exit statuses: 0 success; 1 the work failed (a bad input file, a missing or
// damaged index, a broken tree invariant found by check); 2 bad usage (the
// argument parser's errors).
#include <string>

#include "platform/Status.h"

namespace CLI {
class App;
}

namespace simdex::cli {

struct CommandContext {
  // --registry FILE, already exported as SIMDEX_REGISTRY when a callback runs.
  std::string registry;
  // --quiet: no progress output.
  bool quiet = false;
  int exitCode = 0;

  // Prints a failure as "simdex COMMAND: message" on standard error and sets
  // exitCode to 1; a success changes nothing.
  void Finish(const std::string& command, const Status& s);
};

// Each group adds its subcommands to the parser; their callbacks run the
// work. ctx outlives the parser.
void AddRegisterCommands(CLI::App& app, CommandContext& ctx);  // register, unregister
void AddIndexCommands(CLI::App& app, CommandContext& ctx);     // create, insert, stats, info, check
void AddSearchCommands(CLI::App& app, CommandContext& ctx);    // knn, range
void AddDataCommands(CLI::App& app, CommandContext& ctx);      // generate, truth
void AddEvalCommand(CLI::App& app, CommandContext& ctx);       // eval
void AddPlotCommand(CLI::App& app, CommandContext& ctx);       // plot

}  // namespace simdex::cli
