#include "platform/RegistryKey.h"

#include <cstdio>

namespace simdex {
namespace {

// First line of every registry file; the number is the format version.
constexpr std::string_view kHeader = "SIMDEX REGISTRY 1";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Splits off the first component of a '\'-separated path.
std::string_view NextComponent(std::string_view* path) {
  auto pos = path->find('\\');
  std::string_view head = path->substr(0, pos);
  *path = pos == std::string_view::npos ? std::string_view() : path->substr(pos + 1);
  return head;
}

void AppendQuoted(std::string_view s, std::string* out) {
  out->push_back('"');
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        *out += "\\\"";
        break;
      case '\\':
        *out += "\\\\";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default:
        if (u < 0x20 || u == 0x7f) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", u);
          *out += buf;
        } else {
          out->push_back(c);
        }
    }
  }
  out->push_back('"');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string at the start of *line and advances past it.
bool ReadQuoted(std::string_view* line, std::string* out) {
  std::string_view s = *line;
  if (s.empty() || s[0] != '"') return false;
  out->clear();
  std::size_t i = 1;
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') {
      *line = s.substr(i);
      return true;
    }
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (i >= s.size()) return false;
    char e = s[i++];
    switch (e) {
      case '"':
        out->push_back('"');
        break;
      case '\\':
        out->push_back('\\');
        break;
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'x': {
        if (i + 2 > s.size()) return false;
        int hi = HexValue(s[i]), lo = HexValue(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out->push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

}  // namespace

bool RegistryKey::NameLess::operator()(std::string_view a, std::string_view b) const {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    char x = Lower(a[i]), y = Lower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

bool RegistryKey::IsValidName(std::string_view name) {
  // 255 bytes as in the platform's registry; keeps paths of sane length.
  if (name.empty() || name.size() > 255) return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (c == '\\' || u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

const RegistryKey* RegistryKey::Find(std::string_view path) const {
  const RegistryKey* key = this;
  while (!path.empty()) {
    auto it = key->subkeys_.find(NextComponent(&path));
    if (it == key->subkeys_.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

RegistryKey* RegistryKey::Find(std::string_view path) {
  return const_cast<RegistryKey*>(static_cast<const RegistryKey*>(this)->Find(path));
}

Status RegistryKey::Create(std::string_view path, RegistryKey** key) {
  // Check every name first so that a bad path creates nothing.
  std::string_view rest = path;
  if (path.empty() || path.back() == '\\')
    return Status::InvalidArgument("invalid registry key path '" + std::string(path) + "'");
  do {
    if (!IsValidName(NextComponent(&rest)))
      return Status::InvalidArgument("invalid registry key path '" + std::string(path) + "'");
  } while (!rest.empty());
  RegistryKey* cur = this;
  rest = path;
  while (!rest.empty()) {
    std::string_view name = NextComponent(&rest);
    auto it = cur->subkeys_.find(name);
    if (it == cur->subkeys_.end())
      it = cur->subkeys_.emplace(std::string(name), std::make_unique<RegistryKey>()).first;
    cur = it->second.get();
  }
  *key = cur;
  return Status::OK();
}

bool RegistryKey::Remove(std::string_view path) {
  auto pos = path.rfind('\\');
  RegistryKey* parent = pos == std::string_view::npos ? this : Find(path.substr(0, pos));
  if (!parent) return false;
  std::string_view name = pos == std::string_view::npos ? path : path.substr(pos + 1);
  auto it = parent->subkeys_.find(name);
  if (it == parent->subkeys_.end()) return false;
  parent->subkeys_.erase(it);
  return true;
}

const std::string* RegistryKey::Value(std::string_view name) const {
  auto it = values_.find(name);
  return it == values_.end() ? nullptr : &it->second;
}

void RegistryKey::SetValue(std::string name, std::string value) {
  auto it = values_.find(name);
  if (it != values_.end())
    it->second = std::move(value);
  else
    values_.emplace(std::move(name), std::move(value));
}

bool RegistryKey::RemoveValue(std::string_view name) {
  auto it = values_.find(name);
  if (it == values_.end()) return false;
  values_.erase(it);
  return true;
}

std::string RegistryKey::Serialize() const {
  std::string out(kHeader);
  out += '\n';
  SerializeInto("", &out);
  return out;
}

void RegistryKey::SerializeInto(const std::string& path, std::string* out) const {
  // Every key gets its header line, so empty keys survive a round trip. The
  // root's line is written only when the root holds values.
  if (!path.empty() || default_ || !values_.empty()) {
    *out += '[';
    *out += path;
    *out += "]\n";
  }
  if (default_) {
    *out += '@';
    *out += '=';
    AppendQuoted(*default_, out);
    *out += '\n';
  }
  for (const auto& [name, value] : values_) {
    AppendQuoted(name, out);
    *out += '=';
    AppendQuoted(value, out);
    *out += '\n';
  }
  for (const auto& [name, key] : subkeys_)
    key->SerializeInto(path.empty() ? name : path + '\\' + name, out);
}

Status RegistryKey::Parse(std::string_view text, const std::string& fileName, RegistryKey* root) {
  int lineNo = 0;
  auto corrupt = [&](const std::string& what) {
    return Status::Corruption("registry file '" + fileName + "' is corrupt: line " +
                              std::to_string(lineNo) + ": " + what);
  };
  RegistryKey* current = root;
  bool first = true;
  while (!text.empty()) {
    auto nl = text.find('\n');
    if (nl == std::string_view::npos) {
      ++lineNo;
      return corrupt("the file is cut short (no end of line)");
    }
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    ++lineNo;
    if (first) {
      if (line != kHeader) return corrupt("expected \"" + std::string(kHeader) + "\"");
      first = false;
      continue;
    }
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 2) return corrupt("unterminated key line");
      std::string_view path = line.substr(1, line.size() - 2);
      if (path.empty()) {
        current = root;
        continue;
      }
      if (!root->Create(path, &current).ok()) return corrupt("invalid key path");
      continue;
    }
    std::string name, value;
    bool isDefault = line[0] == '@';
    if (isDefault)
      line.remove_prefix(1);
    else if (!ReadQuoted(&line, &name))
      return corrupt("expected a key, a default value or a named value");
    if (line.empty() || line[0] != '=') return corrupt("expected '='");
    line.remove_prefix(1);
    if (!ReadQuoted(&line, &value) || !line.empty()) return corrupt("malformed value");
    if (isDefault)
      current->SetDefaultValue(std::move(value));
    else
      current->SetValue(std::move(name), std::move(value));
  }
  return Status::OK();
}

}  // namespace simdex
