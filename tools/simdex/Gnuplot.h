#pragma once
// A plot drawn by gnuplot: the command builds a script with inline data
// blocks, and Render runs the gnuplot program found on PATH on it. The image
// goes to a temporary file beside the output and is renamed into place only
// when gnuplot succeeded, so a failed run never leaves a half-written image
// (nor removes an older one).
#include <string>
#include <vector>

#include "platform/Status.h"

namespace simdex::cli {

class Gnuplot {
 public:
  enum class Format { kPng, kSvg };

  // Message when the program is missing; the Debian package is named because
  // that is where the project's setup script gets it.
  static constexpr const char* kNotFound =
      "gnuplot not found: install the Debian package gnuplot-nox";

  // The image format of output from its extension (.png or .svg, any case);
  // InvalidArgument naming the extension otherwise.
  static Status FormatOf(const std::string& output, Format* format);
  // Parses "WxH" (pixels, each 100..10000); InvalidArgument otherwise.
  static Status ParseSize(const std::string& text, int* width, int* height);
  // The full path of the gnuplot program on PATH; NotFound with kNotFound.
  static Status Locate(std::string* program);
  // text as a gnuplot single-quoted string (a quote inside is doubled).
  static std::string Quote(const std::string& text);

  // A plot into output, width x height pixels. format must be
  // FormatOf(output).
  Gnuplot(std::string output, Format format, int width, int height);

  // Appends one script line.
  void Command(const std::string& line);
  // Defines the inline data block $name, one line per row. A value that is not
  // finite is written as NaN, which gnuplot skips.
  void Data(const std::string& name, const std::vector<std::vector<double>>& rows);
  // The whole script: terminal, output, the data blocks, then the commands.
  std::string Script(const std::string& outputFile) const;

  // Runs gnuplot on the script. Fails with gnuplot's own messages when it
  // exits with an error or writes no image.
  Status Render() const;

 private:
  std::string output_;
  Format format_;
  int width_;
  int height_;
  std::string data_;
  std::string commands_;
};

}  // namespace simdex::cli
