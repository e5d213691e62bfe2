// The .reg text format: parsing into blocks that keep each line as written, and
// formatting of changed values.
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "vexa/platform/registry.h"
#include "vexa/platform/secure.h"

namespace vexa {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses a run of 1..8 hex digits as a 32-bit number; false when there is none
// or it is too long.
bool ParseHex32(std::string_view s, DWORD& out) {
  if (s.empty() || s.size() > 8) return false;
  DWORD v = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<DWORD>(d);
  }
  out = v;
  return true;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool ParseQuoted(std::string_view s, std::size_t& pos, std::string& out, std::string& why) {
  ++pos;
  out.clear();
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (pos >= s.size()) break;
    char e = s[pos++];
    switch (e) {
      case '\\': out.push_back('\\'); break;
      case '"': out.push_back('"'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      default:
        why = std::string("unknown escape \\") + e + " in a quoted string";
        return false;
    }
  }
  why = "quoted string without its closing quote";
  return false;
}

// Only blanks or a ';' comment may follow a complete value.
bool OnlyTrailer(std::string_view rest) {
  rest = Trim(rest);
  return rest.empty() || rest.front() == ';';
}

bool ParseHexBytes(std::string_view list, std::vector<BYTE>& out, std::string& why) {
  out.clear();
  // Room for every byte at once: no partial copy of the value is left behind
  // in a block released by growth.
  out.reserve(list.size() / 2 + 1);
  std::size_t i = 0;
  while (true) {
    while (i < list.size() && IsBlank(list[i])) ++i;
    if (i >= list.size()) return true;
    if (list[i] == ';') return true;  // trailing comment
    std::size_t start = i;
    while (i < list.size() && HexDigit(list[i]) >= 0) ++i;
    std::size_t len = i - start;
    if (len == 0 || len > 2) {
      why = "hex data must be bytes of two hex digits separated by commas";
      return false;
    }
    DWORD v = 0;
    ParseHex32(list.substr(start, len), v);
    out.push_back(static_cast<BYTE>(v));
    while (i < list.size() && IsBlank(list[i])) ++i;
    if (i >= list.size() || list[i] == ';') return true;
    if (list[i] != ',') {
      why = "hex data must be bytes of two hex digits separated by commas";
      return false;
    }
    ++i;
  }
}

void AppendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out.push_back(c);
    }
  }
  out.push_back('"');
}

// REG_SZ data that can be written as a quoted string: one terminating NUL and no other.
bool IsPlainString(const std::vector<BYTE>& d) {
  if (d.empty() || d.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < d.size(); ++i)
    if (d[i] == 0) return false;
  return true;
}

}  // namespace

std::string RegParseError::Text() const {
  // snprintf rather than std::to_string: the latter leaves a GNU unique symbol
  // in the library, and such a library is never unloaded by dlclose.
  if (line > 0) {
    char num[16];
    std::snprintf(num, sizeof num, "%d", line);
    return file + ":" + num + ": " + message;
  }
  return file + ": " + message;
}

std::string FormatRegValue(const RegValue& value) {
  std::string out;
  if (value.name.empty())
    out = "@";
  else
    AppendQuoted(out, value.name);
  out.push_back('=');
  const auto& d = value.data;
  if (value.type == REG_SZ && IsPlainString(d)) {
    AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(d.data()), d.size() - 1));
    return out;
  }
  if (value.type == REG_DWORD && d.size() == 4) {
    char buf[16];
    DWORD v = static_cast<DWORD>(d[0]) | static_cast<DWORD>(d[1]) << 8 |
              static_cast<DWORD>(d[2]) << 16 | static_cast<DWORD>(d[3]) << 24;
    std::snprintf(buf, sizeof buf, "dword:%08lx", static_cast<unsigned long>(v));
    out += buf;
    return out;
  }
  if (value.type == REG_BINARY) {
    out += "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%lx):", static_cast<unsigned long>(value.type));
    out += buf;
  }
  // Lines of at most about 80 columns, continued with '\' as regedit writes them.
  std::string line = std::move(out);
  out.clear();
  static const char* digits = "0123456789abcdef";
  for (std::size_t i = 0; i < d.size(); ++i) {
    char piece[3] = {digits[d[i] >> 4], digits[d[i] & 15], ','};
    std::size_t n = (i + 1 < d.size()) ? 3 : 2;
    if (line.size() + n > 78 && line.size() > 2) {
      out += line;
      out += "\\\n";
      line = "  ";
    }
    line.append(piece, n);
  }
  out += line;
  return out;
}

DWORD RegValueNumber(const std::vector<BYTE>& data) noexcept {
  DWORD n = 0;
  for (std::size_t i = 0; i < data.size() && i < 4; ++i) n |= static_cast<DWORD>(data[i]) << (8 * i);
  return n;
}

RegDocument::~RegDocument() { Clear(); }

void RegDocument::Clear() noexcept {
  for (Block& b : m_blocks) {
    SecureWipe(b.raw.data(), b.raw.size());
    SecureWipe(b.value.data.data(), b.value.data.size());
  }
  m_blocks.clear();
}

bool RegDocument::Parse(std::string_view text, const std::string& fileName, RegParseError& err) {
  Clear();
  err = RegParseError{fileName, 0, {}};
  auto fail = [&](int line, std::string msg) {
    err.line = line;
    err.message = std::move(msg);
    Clear();
    return false;
  };
  if (text.size() >= 2 && ((static_cast<unsigned char>(text[0]) == 0xFF &&
                            static_cast<unsigned char>(text[1]) == 0xFE) ||
                           (static_cast<unsigned char>(text[0]) == 0xFE &&
                            static_cast<unsigned char>(text[1]) == 0xFF)))
    return fail(0, "the file is UTF-16 text; save it as UTF-8");
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (text.find('\0') != std::string_view::npos) {
    std::size_t at = text.find('\0');
    int line = 1;
    for (std::size_t i = 0; i < at; ++i)
      if (text[i] == '\n') ++line;
    return fail(line, "NUL byte in the text");
  }

  // Physical lines, without their line ends.
  std::vector<std::string_view> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = text.find('\n', pos);
    std::string_view l = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    while (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    lines.push_back(l);
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }

  bool inKey = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int lineNo = static_cast<int>(i) + 1;
    std::string_view t = Trim(lines[i]);
    Block b;
    b.raw = std::string(lines[i]);
    if (t.empty() || t.front() == ';' || t == "Windows Registry Editor Version 5.00" ||
        t == "REGEDIT4") {
      m_blocks.push_back(std::move(b));
      continue;
    }
    if (t.front() == '[') {
      if (t.back() != ']') return fail(lineNo, "key line without its closing ']'");
      std::string_view path = t.substr(1, t.size() - 2);
      if (!path.empty() && path.front() == '-')
        return fail(lineNo, "key deletions ([-KEY]) are not supported");
      if (!StartsNoCase(path, "HKEY_")) return fail(lineNo, "key name must begin with a root key (HKEY_...)");
      if (path.find_first_of("[]") != std::string_view::npos)
        return fail(lineNo, "brackets inside a key name");
      b.kind = Block::kKey;
      b.keyPath = std::string(path);
      m_blocks.push_back(std::move(b));
      inKey = true;
      continue;
    }
    if (t.front() != '"' && t.front() != '@')
      return fail(lineNo, "expected a key [..], a value \"name\"=..., or a ';' comment");
    if (!inKey) return fail(lineNo, "value outside any key");

    RegValue v;
    std::size_t pos = 0;
    std::string why;
    if (t.front() == '@') {
      pos = 1;
    } else if (!ParseQuoted(t, pos, v.name, why)) {
      return fail(lineNo, "value name: " + why);
    }
    while (pos < t.size() && IsBlank(t[pos])) ++pos;
    if (pos >= t.size() || t[pos] != '=') return fail(lineNo, "expected '=' after the value name");
    ++pos;
    while (pos < t.size() && IsBlank(t[pos])) ++pos;
    std::string_view data = t.substr(pos);

    if (!data.empty() && data.front() == '"') {
      std::string s;
      std::size_t p = 0;
      if (!ParseQuoted(data, p, s, why)) return fail(lineNo, why);
      if (!OnlyTrailer(data.substr(p))) return fail(lineNo, "text after the quoted string");
      v.type = REG_SZ;
      v.data.assign(s.begin(), s.end());
      v.data.push_back(0);
    } else if (!data.empty() && data.front() == '-') {
      return fail(lineNo, "value deletions (\"name\"=-) are not supported");
    } else if (StartsNoCase(data, "dword:")) {
      std::string_view digits = data.substr(6);
      std::size_t end = 0;
      while (end < digits.size() && HexDigit(digits[end]) >= 0) ++end;
      DWORD n = 0;
      if (!ParseHex32(digits.substr(0, end), n) || !OnlyTrailer(digits.substr(end)))
        return fail(lineNo, "dword: needs 1 to 8 hex digits");
      v.type = REG_DWORD;
      v.data = {static_cast<BYTE>(n), static_cast<BYTE>(n >> 8), static_cast<BYTE>(n >> 16),
                static_cast<BYTE>(n >> 24)};
    } else if (StartsNoCase(data, "hex")) {
      std::string_view rest = data.substr(3);
      v.type = REG_BINARY;
      if (!rest.empty() && rest.front() == '(') {
        std::size_t close = rest.find(')');
        if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), v.type))
          return fail(lineNo, "hex(N): needs a hex type number");
        rest = rest.substr(close + 1);
      }
      if (rest.empty() || rest.front() != ':') return fail(lineNo, "expected ':' after hex");
      rest.remove_prefix(1);
      // Join the continuation lines: a line whose data ends with '\' goes on.
      std::string joined;
      std::string_view seg = Trim(rest);
      while (!seg.empty() && seg.back() == '\\') {
        seg.remove_suffix(1);
        joined.append(seg);
        if (i + 1 >= lines.size()) return fail(lineNo, "line continuation '\\' at the end of the file");
        ++i;
        b.raw += "\n";
        b.raw += lines[i];
        seg = Trim(lines[i]);
      }
      joined.append(seg);
      const bool parsed = ParseHexBytes(joined, v.data, why);
      SecureWipe(joined.data(), joined.size());
      if (!parsed) return fail(static_cast<int>(i) + 1, why);
    } else {
      return fail(lineNo, "unknown value type (expected \"text\", dword: or hex:)");
    }
    b.kind = Block::kValue;
    b.value = std::move(v);
    m_blocks.push_back(std::move(b));
  }
  return true;
}

std::string RegDocument::Text() const {
  std::string out;
  for (const auto& b : m_blocks) {
    out += b.raw;
    out.push_back('\n');
  }
  return out;
}

std::size_t RegDocument::FindKey(std::string_view keyPath) const {
  for (std::size_t i = 0; i < m_blocks.size(); ++i)
    if (m_blocks[i].kind == Block::kKey && EqualNoCase(m_blocks[i].keyPath, keyPath)) return i;
  return std::string::npos;
}

bool RegDocument::HasKey(std::string_view keyPath) const {
  return FindKey(keyPath) != std::string::npos;
}

// A key may appear in several sections; as on import, a later value wins.
const RegValue* RegDocument::Find(std::string_view keyPath, std::string_view valueName) const {
  const RegValue* found = nullptr;
  bool in = false;
  for (const auto& b : m_blocks) {
    if (b.kind == Block::kKey) in = EqualNoCase(b.keyPath, keyPath);
    else if (in && b.kind == Block::kValue && EqualNoCase(b.value.name, valueName)) found = &b.value;
  }
  return found;
}

std::vector<RegValue> RegDocument::Values(std::string_view keyPath) const {
  std::vector<RegValue> out;
  bool in = false;
  for (const auto& b : m_blocks) {
    if (b.kind == Block::kKey) {
      in = EqualNoCase(b.keyPath, keyPath);
    } else if (in && b.kind == Block::kValue) {
      bool replaced = false;
      for (auto& v : out)
        if (EqualNoCase(v.name, b.value.name)) {
          v = b.value;
          replaced = true;
        }
      if (!replaced) out.push_back(b.value);
    }
  }
  return out;
}

void RegDocument::AddKey(std::string_view keyPath) {
  if (HasKey(keyPath)) return;
  if (m_blocks.empty()) {
    m_blocks.push_back(Block{Block::kText, "Windows Registry Editor Version 5.00", {}, {}});
  }
  if (!m_blocks.back().raw.empty()) m_blocks.push_back(Block{});
  Block k;
  k.kind = Block::kKey;
  k.keyPath = std::string(keyPath);
  k.raw = "[" + k.keyPath + "]";
  m_blocks.push_back(std::move(k));
}

bool RegDocument::Set(std::string_view keyPath, const RegValue& value) {
  if (!HasKey(keyPath)) return false;
  // Rewrite the value where it stands (the last occurrence), dropping older duplicates.
  std::size_t last = std::string::npos, insertAt = std::string::npos;
  bool in = false;
  for (std::size_t i = 0; i < m_blocks.size(); ++i) {
    const auto& b = m_blocks[i];
    if (b.kind == Block::kKey) {
      in = EqualNoCase(b.keyPath, keyPath);
      if (in) insertAt = i + 1;
    } else if (in && b.kind == Block::kValue) {
      insertAt = i + 1;
      if (EqualNoCase(b.value.name, value.name)) last = i;
    }
  }
  Block nb;
  nb.kind = Block::kValue;
  nb.value = value;
  nb.raw = FormatRegValue(value);
  if (last != std::string::npos) {
    m_blocks[last] = std::move(nb);
  } else {
    m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(nb));
    last = insertAt;
  }
  // Drop older duplicates of the same name in the same key.
  in = false;
  for (std::size_t i = 0; i < m_blocks.size();) {
    const auto& b = m_blocks[i];
    if (b.kind == Block::kKey) in = EqualNoCase(b.keyPath, keyPath);
    if (i != last && in && b.kind == Block::kValue && EqualNoCase(b.value.name, value.name)) {
      m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(i));
      if (i < last) --last;
      continue;
    }
    ++i;
  }
  return true;
}

bool RegDocument::Remove(std::string_view keyPath, std::string_view valueName) {
  bool in = false, removed = false;
  for (std::size_t i = 0; i < m_blocks.size();) {
    const auto& b = m_blocks[i];
    if (b.kind == Block::kKey) in = EqualNoCase(b.keyPath, keyPath);
    if (in && b.kind == Block::kValue && EqualNoCase(b.value.name, valueName)) {
      m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(i));
      removed = true;
      continue;
    }
    ++i;
  }
  return removed;
}

}  // namespace vexa
