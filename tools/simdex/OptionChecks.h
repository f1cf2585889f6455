#pragma once
// Checks of numeric options shared by the subcommands: a bad number is a
// usage error (exit status 2) reported by the argument parser.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <string>

namespace simdex::cli {

// A finite number above `low` (or at least `low` when inclusive).
inline CLI::Validator FiniteAbove(double low, bool inclusive) {
  char bound[32];
  std::snprintf(bound, sizeof bound, "%g", low);
  const std::string text = std::string(inclusive ? ">= " : "> ") + bound;
  return CLI::Validator(
      [low, inclusive, text](std::string& input) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(input, value) || !std::isfinite(value)) {
          return "'" + input + "' is not a finite number";
        }
        if (inclusive ? !(value >= low) : !(value > low)) {
          return "'" + input + "' is not " + text;
        }
        return std::string();
      },
      "NUMBER " + text);
}

// Any finite number.
inline CLI::Validator Finite() {
  return CLI::Validator(
      [](std::string& input) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(input, value) || !std::isfinite(value)) {
          return "'" + input + "' is not a finite number";
        }
        return std::string();
      },
      "NUMBER");
}

}  // namespace simdex::cli
