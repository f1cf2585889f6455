// simdex: build, search, measure and check similarity indexes from the
// command line. `simdex --help` and `simdex COMMAND --help` list the options.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/simdex/CommandContext.h"

int main(int argc, char** argv) {
  simdex::cli::CommandContext ctx;
  CLI::App app{"simdex: disk-based similarity search in metric spaces"};
  app.require_subcommand(1);
  app.option_defaults()->always_capture_default();
  // Global options may also follow the subcommand.
  app.fallthrough();
  // Exported as soon as it is parsed: subcommand callbacks run after every
  // option and load classes through the registry.
  app.add_option_function<std::string>(
         "--registry",
         [&ctx](const std::string& file) {
           ctx.registry = file;
           ::setenv("SIMDEX_REGISTRY", file.c_str(), 1);
         },
         "Registry file of the component classes (default: $SIMDEX_REGISTRY, "
         "else ~/.local/share/simdex/registry.txt)")
      ->type_name("FILE");
  app.add_flag("-q,--quiet", ctx.quiet, "No progress output");

  simdex::cli::AddRegisterCommands(app, ctx);
  simdex::cli::AddIndexCommands(app, ctx);
  simdex::cli::AddSearchCommands(app, ctx);
  simdex::cli::AddDataCommands(app, ctx);
  simdex::cli::AddEvalCommand(app, ctx);
  simdex::cli::AddPlotCommand(app, ctx);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  } catch (const std::exception& e) {
    // Only resource exhaustion gets here: the commands report failures as
    // statuses.
    std::fprintf(stderr, "simdex: %s\n", e.what());
    return 1;
  }
  return ctx.exitCode;
}
