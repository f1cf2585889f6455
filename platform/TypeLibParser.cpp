// The text form of type libraries (see TypeInfo.h).
#include <cstdlib>

#include "platform/RegistryKey.h"
#include "platform/TypeInfo.h"

namespace simdex {
namespace {

struct Token {
  enum class Kind { kWord, kGuid, kString, kPunct };
  Kind kind;
  std::string text;
};

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.';
}

// Splits one line into tokens; false on a malformed token.
bool Tokenize(std::string_view line, std::vector<Token>* out, std::string* error) {
  out->clear();
  std::size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      std::string s;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\' && i < line.size()) d = line[i++];
        s.push_back(d);
      }
      if (!closed) {
        *error = "unterminated string";
        return false;
      }
      out->push_back({Token::Kind::kString, std::move(s)});
    } else if (c == '{') {
      auto end = line.find('}', i);
      if (end == std::string_view::npos) {
        *error = "unterminated identifier";
        return false;
      }
      out->push_back({Token::Kind::kGuid, std::string(line.substr(i, end - i + 1))});
      i = end + 1;
    } else if (IsWordChar(c)) {
      std::size_t start = i;
      while (i < line.size() && IsWordChar(line[i])) ++i;
      out->push_back({Token::Kind::kWord, std::string(line.substr(start, i - start))});
    } else if (c == '(' || c == ')' || c == ',' || c == ':' || c == '*' || c == '[' || c == ']') {
      out->push_back({Token::Kind::kPunct, std::string(1, c)});
      ++i;
    } else {
      *error = std::string("unexpected character '") + c + "'";
      return false;
    }
  }
  return true;
}

bool IsIdentifier(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s)
    if (c == '.') return false;
  return true;
}

bool ParseUnsigned(const std::string& s, int base, unsigned long max, unsigned long* v) {
  if (s.empty() || s.size() > 10) return false;
  char* end = nullptr;
  *v = std::strtoul(s.c_str(), &end, base);
  return *end == '\0' && *v <= max && s[0] != '-' && s[0] != '+';
}

class LineParser {
 public:
  LineParser(const std::vector<Token>& toks) : toks_(toks) {}
  bool AtEnd() const { return at_ >= toks_.size(); }
  const Token* Peek() const { return AtEnd() ? nullptr : &toks_[at_]; }
  bool TakePunct(char c) {
    if (AtEnd() || toks_[at_].kind != Token::Kind::kPunct || toks_[at_].text[0] != c) return false;
    ++at_;
    return true;
  }
  bool TakeWord(std::string* w) { return Take(Token::Kind::kWord, w); }
  bool TakeGuid(GUID* g) {
    std::string s;
    if (!Take(Token::Kind::kGuid, &s)) return false;
    auto parsed = ParseGuid(s);
    if (!parsed || s.size() != 38) return false;
    *g = *parsed;
    return true;
  }
  bool TakeString(std::string* s) { return Take(Token::Kind::kString, s); }

 private:
  bool Take(Token::Kind k, std::string* s) {
    if (AtEnd() || toks_[at_].kind != k) return false;
    *s = toks_[at_++].text;
    return true;
  }
  const std::vector<Token>& toks_;
  std::size_t at_ = 0;
};

bool ParseParam(LineParser& p, ParamDescription* param, std::string* error) {
  if (p.TakePunct('[')) {
    std::string attr;
    if (!p.TakeWord(&attr) || attr != "retval" || !p.TakePunct(']')) {
      *error = "expected [retval]";
      return false;
    }
    param->retval = true;
  }
  std::string type;
  if (!p.TakeWord(&type) || !IsIdentifier(type)) {
    *error = "expected a parameter type";
    return false;
  }
  int stars = 0;
  while (p.TakePunct('*')) ++stars;
  if (!p.TakeWord(&param->name) || !IsIdentifier(param->name)) {
    *error = "expected a parameter name";
    return false;
  }
  // In parameters take the type as written; a [retval] adds one pointer.
  int need = param->retval ? 1 : 0;
  struct Builtin {
    const char* name;
    ParamKind kind;
    bool canReturn;
  };
  static constexpr Builtin kBuiltins[] = {
      {"int", ParamKind::kInt32, true},       {"unsigned", ParamKind::kUInt32, true},
      {"double", ParamKind::kDouble, true},   {"GUID", ParamKind::kGuid, false},
      {"string", ParamKind::kString, false},  {"bytes", ParamKind::kBytes, false},
      {"doubles", ParamKind::kDoubles, false}};
  for (const auto& b : kBuiltins) {
    if (type != b.name) continue;
    if (stars != need || (param->retval && !b.canReturn)) {
      *error = "type '" + type + "' cannot be used this way";
      return false;
    }
    param->kind = b.kind;
    return true;
  }
  // Any other name is an interface, passed by pointer.
  if (stars != need + 1) {
    *error = "interface parameter '" + param->name + "' needs " + (need ? "**" : "*");
    return false;
  }
  param->kind = ParamKind::kObject;
  param->interfaceName = type;
  return true;
}

}  // namespace

Status ParseTypeLib(std::string_view text, TypeLibDescription* out) {
  *out = TypeLibDescription();
  int lineNo = 0;
  std::string error;
  auto fail = [&](const std::string& what) {
    return Status::InvalidArgument("type library line " + std::to_string(lineNo) + ": " + what);
  };
  enum class Block { kNone, kInterface, kCoClass } block = Block::kNone;
  bool haveLibrary = false;
  std::vector<Token> toks;
  RegistryKey::NameLess less;
  auto sameName = [&](const std::string& a, const std::string& b) {
    return !less(a, b) && !less(b, a);
  };
  while (!text.empty()) {
    auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    ++lineNo;
    if (!Tokenize(line, &toks, &error)) return fail(error);
    if (toks.empty()) continue;
    LineParser p(toks);
    std::string word;
    if (block == Block::kNone) {
      if (!p.TakeWord(&word)) return fail("expected 'library', 'interface' or 'coclass'");
      if (word == "library") {
        if (haveLibrary) return fail("a second library line");
        std::string version, lcid;
        unsigned long major = 0, minor = 0, lc = 0;
        if (!p.TakeWord(&out->name) || !IsIdentifier(out->name) || !p.TakeGuid(&out->libid) ||
            !p.TakeWord(&version) || !p.TakeWord(&lcid) || !p.TakeString(&out->doc) || !p.AtEnd())
          return fail("expected: library NAME {LIBID} MAJOR.MINOR LCID \"description\"");
        auto dot = version.find('.');
        if (dot == std::string::npos ||
            !ParseUnsigned(version.substr(0, dot), 10, 0xffff, &major) ||
            !ParseUnsigned(version.substr(dot + 1), 10, 0xffff, &minor) ||
            !ParseUnsigned(lcid, 16, 0xffffffffu, &lc))
          return fail("bad version or locale");
        out->major = static_cast<WORD>(major);
        out->minor = static_cast<WORD>(minor);
        out->lcid = static_cast<LCID>(lc);
        haveLibrary = true;
        continue;
      }
      if (!haveLibrary) return fail("the library line must come first");
      if (word == "interface") {
        InterfaceDescription itf;
        if (!p.TakeWord(&itf.name) || !IsIdentifier(itf.name) || !p.TakeGuid(&itf.iid))
          return fail("expected: interface NAME {IID} [dual] : BASE \"description\"");
        std::string w;
        if (p.Peek() && p.Peek()->kind == Token::Kind::kWord && p.Peek()->text == "dual") {
          p.TakeWord(&w);
          itf.dual = true;
        }
        if (!p.TakePunct(':') || !p.TakeWord(&itf.base)) return fail("expected ': BASE'");
        if (itf.base != "IDispatch" && itf.base != "IUnknown")
          return fail("the base must be IDispatch or IUnknown");
        if (itf.dual && itf.base != "IDispatch")
          return fail("a dual interface derives from IDispatch");
        if (!p.AtEnd() && !p.TakeString(&itf.doc)) return fail("expected a description");
        if (!p.AtEnd()) return fail("unexpected text after the interface");
        for (const auto& other : out->interfaces)
          if (sameName(other.name, itf.name) || other.iid == itf.iid)
            return fail("interface '" + itf.name + "' is described twice");
        out->interfaces.push_back(std::move(itf));
        block = Block::kInterface;
        continue;
      }
      if (word == "coclass") {
        CoClassDescription cls;
        if (!p.TakeWord(&cls.name) || !IsIdentifier(cls.name) || !p.TakeGuid(&cls.clsid) ||
            (!p.AtEnd() && !p.TakeString(&cls.doc)) || !p.AtEnd())
          return fail("expected: coclass NAME {CLSID} \"description\"");
        out->coclasses.push_back(std::move(cls));
        block = Block::kCoClass;
        continue;
      }
      return fail("unknown item '" + word + "'");
    }
    if (p.Peek()->kind == Token::Kind::kWord && p.Peek()->text == "end") {
      p.TakeWord(&word);
      if (!p.AtEnd()) return fail("unexpected text after 'end'");
      block = Block::kNone;
      continue;
    }
    if (block == Block::kCoClass) {
      CoClassDescription& cls = out->coclasses.back();
      std::string name;
      if (!p.TakeWord(&word) || (word != "default" && word != "implements") || !p.TakeWord(&name) ||
          !p.AtEnd())
        return fail("expected 'default INTERFACE' or 'implements INTERFACE'");
      bool known = false;
      for (const auto& itf : out->interfaces) known = known || itf.name == name;
      if (!known) return fail("interface '" + name + "' is not described above");
      if (word == "default") {
        if (!cls.defaultInterface.empty()) return fail("a second default interface");
        cls.defaultInterface = name;
      }
      cls.interfaces.push_back(name);
      continue;
    }
    // A method line of the current interface.
    InterfaceDescription& itf = out->interfaces.back();
    MethodDescription m;
    std::string id;
    unsigned long dispid = 0;
    if (!p.TakeWord(&id) || !ParseUnsigned(id, 10, 0x7fffffff, &dispid) || !p.TakeWord(&m.name) ||
        !IsIdentifier(m.name) || !p.TakePunct('('))
      return fail("expected: DISPID name(parameters)");
    m.id = static_cast<DISPID>(dispid);
    if (!p.TakePunct(')')) {
      do {
        ParamDescription param;
        if (!ParseParam(p, &param, &error)) return fail(error);
        for (const auto& other : m.params)
          if (sameName(other.name, param.name))
            return fail("parameter '" + param.name + "' appears twice");
        if (!m.params.empty() && m.params.back().retval)
          return fail("a [retval] parameter must be the last");
        m.params.push_back(std::move(param));
      } while (p.TakePunct(','));
      if (!p.TakePunct(')')) return fail("expected ')'");
    }
    if (!p.AtEnd()) return fail("unexpected text after the method");
    for (const auto& other : itf.methods) {
      if (other.id == m.id) return fail("dispatch identifier " + id + " is used twice");
      if (sameName(other.name, m.name)) return fail("method '" + m.name + "' appears twice");
    }
    unsigned base = itf.base == "IDispatch" ? 7 : 3;
    m.vtableIndex = base + static_cast<unsigned>(itf.methods.size());
    itf.methods.push_back(std::move(m));
  }
  ++lineNo;
  if (!haveLibrary) return fail("no library line");
  if (block != Block::kNone) return fail("missing 'end'");
  return Status::OK();
}

}  // namespace simdex
