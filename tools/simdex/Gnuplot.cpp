#include "tools/simdex/Gnuplot.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

extern char** environ;

namespace simdex::cli {
namespace {

namespace fs = std::filesystem;

// Sizes outside this range are typing mistakes rather than wishes: gnuplot
// would draw nothing legible below it and allocate hundreds of megabytes
// above it.
constexpr int kMinPixels = 100;
constexpr int kMaxPixels = 10000;
// gnuplot's messages can run long (it echoes the script line); the first
// lines say what went wrong.
constexpr std::size_t kMaxMessageLines = 6;

// A file made by mkstemp, removed with the object unless kept.
class TempFile {
 public:
  explicit TempFile(std::string pattern) : path_(std::move(pattern)) {
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) path_.clear();
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  bool Write(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  // Renamed elsewhere: nothing to remove any more.
  void Release() { path_.clear(); }

 private:
  std::string path_;
  int fd_ = -1;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The first lines of gnuplot's messages on one line each, blank ones dropped.
std::string Messages(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::string out;
  std::size_t lines = 0;
  while (std::getline(in, line) && lines < kMaxMessageLines) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (!out.empty()) out += '\n';
    out += line;
    ++lines;
  }
  return out;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string Number(double v) {
  if (!std::isfinite(v)) return "NaN";
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

}  // namespace

Status Gnuplot::FormatOf(const std::string& output, Format* format) {
  std::string ext = fs::path(output).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".png") {
    *format = Format::kPng;
  } else if (ext == ".svg") {
    *format = Format::kSvg;
  } else {
    return Status::InvalidArgument("cannot draw " + output + ": unknown image type " +
                                   (ext.empty() ? std::string("(no extension)") : "'" + ext + "'") +
                                   ", use .png or .svg");
  }
  return Status::OK();
}

Status Gnuplot::ParseSize(const std::string& text, int* width, int* height) {
  int w = 0;
  int h = 0;
  char x = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X') ||
      w < kMinPixels || w > kMaxPixels || h < kMinPixels || h > kMaxPixels) {
    return Status::InvalidArgument("bad size '" + text + "': want WIDTHxHEIGHT in pixels, each " +
                                   std::to_string(kMinPixels) + " to " +
                                   std::to_string(kMaxPixels));
  }
  *width = w;
  *height = h;
  return Status::OK();
}

Status Gnuplot::Locate(std::string* program) {
  const char* env = std::getenv("PATH");
  // The search path of execvp when PATH is unset.
  std::string path = env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find(':', start);
    std::string dir =
        path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/gnuplot";
    if (IsExecutableFile(candidate)) {
      *program = candidate;
      return Status::OK();
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return Status::NotFound(kNotFound);
}

std::string Gnuplot::Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    // Single-quoted gnuplot strings know one escape: a doubled quote. A line
    // end would end the command.
    if (c == '\'') {
      out += "''";
    } else if (c == '\n' || c == '\r') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out + "'";
}

Gnuplot::Gnuplot(std::string output, Format format, int width, int height)
    : output_(std::move(output)), format_(format), width_(width), height_(height) {}

void Gnuplot::Command(const std::string& line) { commands_ += line + "\n"; }

void Gnuplot::Data(const std::string& name, const std::vector<std::vector<double>>& rows) {
  data_ += "$" + name + " << EOD\n";
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) data_ += ' ';
      data_ += Number(row[i]);
    }
    data_ += '\n';
  }
  data_ += "EOD\n";
}

std::string Gnuplot::Script(const std::string& outputFile) const {
  const std::string size = "size " + std::to_string(width_) + "," + std::to_string(height_);
  std::string script;
  // Labels hold paths and names: no enhanced-text markup (an underscore would
  // become a subscript).
  if (format_ == Format::kPng) {
    // The cairo terminal draws anti-aliased; the plain one exists in every
    // build with PNG support.
    script += "if (strstrt(GPVAL_TERMINALS, 'pngcairo') > 0) {\n  set terminal pngcairo " + size +
              " noenhanced\n} else {\n  set terminal png " + size + " noenhanced\n}\n";
  } else {
    script += "set terminal svg " + size + " noenhanced background rgb 'white'\n";
  }
  script += "set output " + Quote(outputFile) + "\n";
  script += data_;
  script += commands_;
  script += "unset output\n";
  return script;
}

Status Gnuplot::Render() const {
  std::string program;
  SIMDEX_RETURN_IF_ERROR(Locate(&program));

  // The image is drawn beside its final place so that the rename is atomic.
  fs::path out(output_);
  std::string dir = out.parent_path().string();
  if (dir.empty()) dir = ".";
  TempFile image(dir + "/." + out.filename().string() + ".XXXXXX");
  if (!image.ok()) {
    return Status::IOError("cannot write " + output_ + ": " + std::strerror(errno));
  }
  const std::string tmp = fs::temp_directory_path().string();
  TempFile script(tmp + "/simdex-plot-XXXXXX");
  TempFile messages(tmp + "/simdex-plot-XXXXXX");
  if (!script.ok() || !messages.ok() || !script.Write(Script(image.path()))) {
    return Status::IOError(std::string("cannot write a temporary gnuplot script: ") +
                           std::strerror(errno));
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, messages.path().c_str(), O_WRONLY | O_APPEND, 0);
  posix_spawn_file_actions_addopen(&actions, 2, messages.path().c_str(), O_WRONLY | O_APPEND, 0);
  std::string scriptPath = script.path();
  char* argv[] = {program.data(), scriptPath.data(), nullptr};
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    return Status::IOError("cannot run " + program + ": " + std::strerror(spawned));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Status::IOError("lost the gnuplot process");
  }
  const std::string said = Messages(Slurp(messages.path()));
  std::error_code ec;
  const auto size = fs::file_size(image.path(), ec);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || ec || size == 0) {
    return Status::IOError("gnuplot could not draw " + output_ +
                           (said.empty() ? std::string() : ":\n" + said));
  }
  // mkstemp made the file private; an image gets the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(image.path().c_str(), 0666 & ~mask);
  fs::rename(image.path(), output_, ec);
  if (ec) return Status::IOError("cannot write " + output_ + ": " + ec.message());
  image.Release();
  return Status::OK();
}

}  // namespace simdex::cli
