#include "platform/Registrar.h"

#include <optional>
#include <utility>
#include <vector>

namespace simdex {
namespace {

struct ScriptValue {
  std::string name;
  std::string text;
};

struct ScriptKey {
  enum class Mode { kPlain, kKeep, kReplace };
  Mode mode = Mode::kPlain;
  std::string name;
  std::optional<std::string> defaultValue;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> children;
};

class ScriptParser {
 public:
  explicit ScriptParser(std::string_view text) : text_(text) {}

  Status ParseAll(std::vector<ScriptKey>* keys) {
    SIMDEX_RETURN_IF_ERROR(ParseItems(keys, nullptr, /*nested=*/false));
    return Status::OK();
  }

 private:
  enum class Tok { kEnd, kWord, kString, kOpen, kClose, kEquals };

  Status Error(const std::string& what) const {
    return Status::InvalidArgument("registration script line " + std::to_string(line_) + ": " +
                                   what);
  }

  static bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
  }

  // Reads the next token into tok_/tokText_.
  Status Next() {
    for (;;) {
      while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                     text_[pos_] == '\r' || text_[pos_] == '\n')) {
        if (text_[pos_] == '\n') ++line_;
        ++pos_;
      }
      if (pos_ < text_.size() && text_[pos_] == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        continue;
      }
      break;
    }
    tokText_.clear();
    if (pos_ >= text_.size()) {
      tok_ = Tok::kEnd;
      return Status::OK();
    }
    char c = text_[pos_];
    if (c == '{' || c == '}' || c == '=') {
      tok_ = c == '{' ? Tok::kOpen : c == '}' ? Tok::kClose : Tok::kEquals;
      ++pos_;
      return Status::OK();
    }
    if (c == '\'') {
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) return Error("unterminated string");
        char d = text_[pos_++];
        if (d == '\'') {
          if (pos_ < text_.size() && text_[pos_] == '\'') {
            tokText_.push_back('\'');
            ++pos_;
            continue;
          }
          break;
        }
        if (d == '\n') ++line_;
        tokText_.push_back(d);
      }
      tok_ = Tok::kString;
      return Status::OK();
    }
    if (IsWordChar(c)) {
      while (pos_ < text_.size() && IsWordChar(text_[pos_])) tokText_.push_back(text_[pos_++]);
      tok_ = Tok::kWord;
      return Status::OK();
    }
    return Error(std::string("unexpected character '") + c + "'");
  }

  Status ExpectName(std::string* name) {
    SIMDEX_RETURN_IF_ERROR(Next());
    if (tok_ != Tok::kWord && tok_ != Tok::kString) return Error("expected a name");
    if (!RegistryKey::IsValidName(tokText_)) return Error("invalid name '" + tokText_ + "'");
    *name = tokText_;
    return Status::OK();
  }

  Status ExpectString(std::string* text) {
    SIMDEX_RETURN_IF_ERROR(Next());
    if (tok_ != Tok::kString) return Error("expected a quoted string");
    *text = tokText_;
    return Status::OK();
  }

  // Items up to the closing brace (nested) or the end of the script.
  Status ParseItems(std::vector<ScriptKey>* keys, std::vector<ScriptValue>* values, bool nested) {
    for (;;) {
      SIMDEX_RETURN_IF_ERROR(Next());
      if (tok_ == Tok::kEnd) {
        if (nested) return Error("missing '}'");
        return Status::OK();
      }
      if (tok_ == Tok::kClose) {
        if (!nested) return Error("unexpected '}'");
        return Status::OK();
      }
      if (tok_ != Tok::kWord) return Error("expected 'key', 'keep', 'replace' or 'value'");
      if (tokText_ == "value") {
        if (!values) return Error("a value must be inside a key");
        ScriptValue v;
        SIMDEX_RETURN_IF_ERROR(ExpectName(&v.name));
        SIMDEX_RETURN_IF_ERROR(Next());
        if (tok_ != Tok::kEquals) return Error("expected '='");
        SIMDEX_RETURN_IF_ERROR(ExpectString(&v.text));
        values->push_back(std::move(v));
        continue;
      }
      ScriptKey key;
      if (tokText_ == "keep" || tokText_ == "replace") {
        key.mode = tokText_ == "keep" ? ScriptKey::Mode::kKeep : ScriptKey::Mode::kReplace;
        SIMDEX_RETURN_IF_ERROR(Next());
      }
      if (tok_ != Tok::kWord || tokText_ != "key") return Error("expected 'key'");
      SIMDEX_RETURN_IF_ERROR(ExpectName(&key.name));
      // Optional default value, then optional block.
      SIMDEX_RETURN_IF_ERROR(Peek());
      if (tok_ == Tok::kEquals) {
        std::string text;
        SIMDEX_RETURN_IF_ERROR(ExpectString(&text));
        key.defaultValue = std::move(text);
        SIMDEX_RETURN_IF_ERROR(Peek());
      }
      if (tok_ == Tok::kOpen)
        SIMDEX_RETURN_IF_ERROR(ParseItems(&key.children, &key.values, /*nested=*/true));
      else
        Unpeek();
      keys->push_back(std::move(key));
    }
  }

  // One-token lookahead: Peek reads the next token and remembers where it
  // started, Unpeek puts it back.
  Status Peek() {
    savedPos_ = pos_;
    savedLine_ = line_;
    return Next();
  }
  void Unpeek() {
    pos_ = savedPos_;
    line_ = savedLine_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  Tok tok_ = Tok::kEnd;
  std::string tokText_;
  std::size_t savedPos_ = 0;
  int savedLine_ = 1;
};

void RegisterKey(const ScriptKey& k, RegistryKey& parent) {
  if (k.mode == ScriptKey::Mode::kReplace) parent.Remove(k.name);
  RegistryKey* key = nullptr;
  // Names were validated by the parser, so Create cannot fail.
  (void)parent.Create(k.name, &key);
  if (k.defaultValue) key->SetDefaultValue(*k.defaultValue);
  for (const auto& v : k.values) key->SetValue(v.name, v.text);
  for (const auto& child : k.children) RegisterKey(child, *key);
}

void UnregisterKey(const ScriptKey& k, RegistryKey& parent) {
  RegistryKey* key = parent.Find(k.name);
  if (!key) return;
  if (k.mode == ScriptKey::Mode::kReplace) {
    parent.Remove(k.name);
    return;
  }
  for (const auto& child : k.children) UnregisterKey(child, *key);
  for (const auto& v : k.values) key->RemoveValue(v.name);
  if (k.defaultValue) key->ClearDefaultValue();
  if (k.mode == ScriptKey::Mode::kPlain && key->IsEmpty()) parent.Remove(k.name);
}

}  // namespace

void Registrar::AddReplacement(std::string name, std::string value) {
  replacements_[std::move(name)] = std::move(value);
}

Status Registrar::Expand(std::string_view script, std::string* out) const {
  out->clear();
  std::size_t i = 0;
  while (i < script.size()) {
    char c = script[i];
    if (c != '%') {
      out->push_back(c);
      ++i;
      continue;
    }
    auto end = script.find('%', i + 1);
    if (end == std::string_view::npos)
      return Status::InvalidArgument("registration script: unmatched '%'");
    std::string name(script.substr(i + 1, end - i - 1));
    i = end + 1;
    if (name.empty()) {
      out->push_back('%');
      continue;
    }
    auto it = replacements_.find(name);
    if (it == replacements_.end())
      return Status::InvalidArgument("registration script: unknown replacement %" + name + "%");
    for (char v : it->second) {
      out->push_back(v);
      // Doubled so that the value can stand inside an apostrophe string.
      if (v == '\'') out->push_back('\'');
    }
  }
  return Status::OK();
}

Status Registrar::Register(std::string_view script, RegistryKey& root) const {
  std::string text;
  SIMDEX_RETURN_IF_ERROR(Expand(script, &text));
  std::vector<ScriptKey> keys;
  SIMDEX_RETURN_IF_ERROR(ScriptParser(text).ParseAll(&keys));
  for (const auto& k : keys) RegisterKey(k, root);
  return Status::OK();
}

Status Registrar::Unregister(std::string_view script, RegistryKey& root) const {
  std::string text;
  SIMDEX_RETURN_IF_ERROR(Expand(script, &text));
  std::vector<ScriptKey> keys;
  SIMDEX_RETURN_IF_ERROR(ScriptParser(text).ParseAll(&keys));
  for (const auto& k : keys) UnregisterKey(k, root);
  return Status::OK();
}

}  // namespace simdex
