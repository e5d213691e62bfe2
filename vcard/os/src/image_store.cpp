#include "image_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "filesystem.h"
#include "hex.h"
#include "secure_messaging.h"

namespace vexa::vcard {
namespace {

constexpr const char* kMagic = "vexa-vcard-image 1";
constexpr size_t kMaxDepth = 16;
constexpr size_t kMaxImage = 16 * 1024 * 1024;

std::string Hx(const Bytes& b) { return b.empty() ? "-" : ToHex(b); }
std::string Hx(const SecureBytes& b) { return b.empty() ? "-" : ToHex(b); }
std::string H8(uint8_t v) { return ToHex(&v, 1); }

std::string PathHex(const std::vector<uint16_t>& path) {
  std::string s;
  for (uint16_t f : path) {
    uint8_t b[2] = {static_cast<uint8_t>(f >> 8), static_cast<uint8_t>(f)};
    s += ToHex(b, 2);
  }
  return s;
}

const char* KindName(FileKind k) {
  switch (k) {
    case FileKind::DF: return "df";
    case FileKind::Transparent: return "bin";
    case FileKind::Record: return "rec";
  }
  return "bin";
}

void WriteTree(std::ostringstream& o, const FileNode& f, std::vector<uint16_t>& path) {
  path.push_back(f.fid);
  const std::string p = PathHex(path);
  o << "file path=" << p << " kind=" << KindName(f.kind) << " desc=" << H8(f.descriptor) << " size=" << f.size
    << " name=" << Hx(f.name) << " ac=" << Hx(f.ac) << " sm=" << Hx(f.sm);
  if (f.kind == FileKind::Transparent) o << " data=" << Hx(f.data);
  o << "\n";
  for (const auto& r : f.records) o << "record path=" << p << " data=" << Hx(r) << "\n";
  for (const auto& pin : f.pins)
    o << "pin df=" << p << " ref=" << H8(pin.ref) << " class=" << H8(pin.objClass) << " opt=" << Hx(pin.options)
      << " ac=" << Hx(pin.ac) << " sm=" << Hx(pin.sm) << " value=" << Hx(pin.value)
      << " max=" << int(pin.maxTries) << " left=" << int(pin.triesLeft) << " unblock=" << H8(pin.unblockRef)
      << " grants=" << Hx(pin.grants) << "\n";
  for (const auto& k : f.keys) {
    o << "key df=" << p << " ref=" << H8(k.ref) << " algo=" << H8(k.algo) << " opt=" << Hx(k.options)
      << " ac=" << Hx(k.ac) << " sm=" << Hx(k.sm) << " size=" << k.size << " pubexp=" << Hx(k.publicExponent)
      << "\n";
    for (const auto& [cls, c] : k.comps)
      o << "comp df=" << p << " ref=" << H8(k.ref) << " class=" << H8(cls) << " loaded=" << (c.loaded ? 1 : 0)
        << " value=" << Hx(c.value) << "\n";
  }
  for (const auto& c : f.children) WriteTree(o, c, path);
  path.pop_back();
}

// Wipes a text holding PINs and keys when it goes out of scope.
struct WipeOnExit {
  std::string& t;
  ~WipeOnExit() { SecureWipe(t.data(), t.size()); }
};

struct Line {
  std::string keyword;
  std::map<std::string, std::string> fields;
  std::vector<std::string> words;  // positional words after the keyword
};

[[noreturn]] void Fail(size_t lineNo, const std::string& what) {
  throw std::runtime_error("card image line " + std::to_string(lineNo) + ": " + what);
}

Line Split(const std::string& text, size_t lineNo) {
  Line l;
  std::istringstream in(text);
  in >> l.keyword;
  std::string w;
  while (in >> w) {
    auto eq = w.find('=');
    if (eq == std::string::npos) {
      l.words.push_back(w);
    } else {
      if (!l.fields.emplace(w.substr(0, eq), w.substr(eq + 1)).second) Fail(lineNo, "field given twice: " + w);
    }
  }
  return l;
}

// A decimal number of one to ten digits; false for any other text.
bool Decimal(const std::string& v, uint64_t& x) {
  if (v.empty() || v.size() > 10 || v.find_first_not_of("0123456789") != std::string::npos) return false;
  x = std::stoull(v);
  return true;
}

class LineReader {
 public:
  LineReader(const Line& l, size_t n) : l_(l), n_(n) {}
  const std::string& Raw(const std::string& key) const {
    auto it = l_.fields.find(key);
    if (it == l_.fields.end()) Fail(n_, "missing field " + key);
    return it->second;
  }
  bool Has(const std::string& key) const { return l_.fields.count(key) != 0; }
  Bytes Hex(const std::string& key) const {
    const std::string& v = Raw(key);
    if (v == "-") return {};
    auto b = FromHex(v);
    if (!b) Fail(n_, "bad hexadecimal in " + key);
    return *b;
  }
  SecureBytes Secret(const std::string& key) const {
    Bytes b = Hex(key);
    SecureBytes s(b.begin(), b.end());
    SecureWipe(b.data(), b.size());
    return s;
  }
  uint8_t Byte(const std::string& key) const {
    Bytes b = Hex(key);
    if (b.size() != 1) Fail(n_, key + " must be one byte");
    return b[0];
  }
  uint32_t Num(const std::string& key, uint32_t max) const {
    uint64_t x = 0;
    if (!Decimal(Raw(key), x)) Fail(n_, "bad number in " + key);
    if (x > max) Fail(n_, key + " out of range");
    return static_cast<uint32_t>(x);
  }
  std::vector<uint16_t> Path(const std::string& key) const {
    Bytes b = Hex(key);
    if (b.empty() || b.size() % 2 != 0 || b.size() / 2 > kMaxDepth) Fail(n_, "bad path in " + key);
    std::vector<uint16_t> p;
    for (size_t i = 0; i < b.size(); i += 2) p.push_back(static_cast<uint16_t>(b[i] << 8 | b[i + 1]));
    return p;
  }

 private:
  const Line& l_;
  size_t n_;
};

FileNode* ResolveDf(CardState& st, const LineReader& r, size_t n) {
  FileNode* df = Resolve(st, r.Path("df"));
  if (!df || df->kind != FileKind::DF) Fail(n, "no such DF");
  return df;
}

}  // namespace

std::string SerializeImage(const CardState& st) {
  std::ostringstream o;
  o << kMagic << "\n";
  o << "version " << st.version << "\n";
  o << "versionbytes " << Hx(st.versionBytes) << "\n";
  o << "atr " << Hx(st.atr) << "\n";
  o << "lifecycle " << H8(st.lifeCycle) << "\n";
  o << "uid " << Hx(st.uidRecord) << "\n";
  o << "memorykb " << st.memoryKb << "\n";
  o << "counter " << st.counter << "\n";
  o << "masterkey " << Hx(st.masterKey) << "\n";
  o << "digestinfo " << Hx(st.digestInfoPrefix) << "\n";
  for (const auto& [id, k] : st.systemKeys) o << "syskey id=" << H8(id) << " value=" << Hx(k) << "\n";
  for (const auto& p : st.packages) o << "package id=" << H8(p.id) << " version=" << H8(p.version) << "\n";
  if (st.mf) {
    std::vector<uint16_t> path;
    WriteTree(o, *st.mf, path);
  }
  return o.str();
}

CardState ParseImage(const std::string& text) {
  CardState st;
  std::istringstream in(text);
  std::string raw;
  size_t n = 0;
  bool haveVersion = false;
  if (!std::getline(in, raw) || raw != kMagic) throw std::runtime_error("not a card image (first line)");
  ++n;
  while (std::getline(in, raw)) {
    ++n;
    if (raw.empty() || raw[0] == '#') continue;
    Line l = Split(raw, n);
    LineReader r(l, n);
    auto single = [&]() -> const std::string& {
      if (l.words.size() != 1 || !l.fields.empty()) Fail(n, "expected one value");
      return l.words[0];
    };
    auto singleHex = [&]() {
      const std::string& v = single();
      if (v == "-") return Bytes{};
      auto b = FromHex(v);
      if (!b) Fail(n, "bad hexadecimal");
      return *b;
    };
    auto singleNum = [&](uint32_t max) {
      uint64_t x = 0;
      if (!Decimal(single(), x)) Fail(n, "bad number");
      if (x > max) Fail(n, "number out of range");
      return static_cast<uint32_t>(x);
    };
    const std::string& k = l.keyword;
    if (k == "version") {
      st.version = single();
      haveVersion = true;
    } else if (k == "versionbytes") {
      st.versionBytes = singleHex();
    } else if (k == "atr") {
      st.atr = singleHex();
      if (st.atr.size() < 2 || st.atr.size() > 33) Fail(n, "bad ATR length");
    } else if (k == "lifecycle") {
      Bytes b = singleHex();
      if (b.size() != 1) Fail(n, "life cycle must be one byte");
      st.lifeCycle = b[0];
    } else if (k == "uid") {
      st.uidRecord = singleHex();
      if (st.uidRecord.size() > 255) Fail(n, "UID record too long");
    } else if (k == "memorykb") {
      st.memoryKb = static_cast<uint16_t>(singleNum(65535));
    } else if (k == "counter") {
      st.counter = singleNum(0xFFFFFFFFu);
    } else if (k == "masterkey") {
      Bytes b = singleHex();
      if (b.size() != 24) Fail(n, "master key must be 24 bytes");
      st.masterKey.assign(b.begin(), b.end());
      SecureWipe(b.data(), b.size());
    } else if (k == "digestinfo") {
      st.digestInfoPrefix = singleHex();
      if (st.digestInfoPrefix.size() > 64) Fail(n, "DigestInfo prefix too long");
    } else if (k == "syskey") {
      SecureBytes v = r.Secret("value");
      if (v.size() != 16) Fail(n, "system key must be 16 bytes");
      st.systemKeys[r.Byte("id")] = std::move(v);
    } else if (k == "package") {
      st.packages.push_back({r.Byte("id"), r.Byte("version")});
    } else if (k == "file") {
      std::vector<uint16_t> path = r.Path("path");
      FileNode f;
      f.fid = path.back();
      const std::string& kind = r.Raw("kind");
      if (kind == "df") f.kind = FileKind::DF;
      else if (kind == "bin") f.kind = FileKind::Transparent;
      else if (kind == "rec") f.kind = FileKind::Record;
      else Fail(n, "bad file kind");
      f.descriptor = r.Byte("desc");
      f.size = r.Num("size", 0xFFFF);
      f.name = r.Hex("name");
      if (f.name.size() > 16) Fail(n, "DF name too long");
      f.ac = r.Hex("ac");
      f.sm = r.Hex("sm");
      if (f.kind == FileKind::Transparent) {
        f.data = r.Hex("data");
        if (f.data.size() != f.size) Fail(n, "file contents do not match the file size");
      }
      if (path.size() == 1) {
        if (st.mf) Fail(n, "second MF");
        if (f.kind != FileKind::DF) Fail(n, "the MF must be a DF");
        st.mf = std::move(f);
      } else {
        std::vector<uint16_t> parentPath(path.begin(), path.end() - 1);
        FileNode* parent = Resolve(st, parentPath);
        if (!parent || parent->kind != FileKind::DF) Fail(n, "parent DF missing");
        for (const auto& c : parent->children)
          if (c.fid == f.fid) Fail(n, "file identifier given twice");
        parent->children.push_back(std::move(f));
      }
    } else if (k == "record") {
      FileNode* f = Resolve(st, r.Path("path"));
      if (!f || f->kind != FileKind::Record) Fail(n, "no such record file");
      Bytes d = r.Hex("data");
      if (d.empty() || d.size() > kMaxRecordLength) Fail(n, "bad record length");
      if (f->records.size() >= kMaxRecords) Fail(n, "too many records");
      f->records.push_back(std::move(d));
    } else if (k == "pin") {
      FileNode* df = ResolveDf(st, r, n);
      PinObject p;
      p.ref = r.Byte("ref");
      p.objClass = r.Byte("class");
      p.options = r.Hex("opt");
      p.ac = r.Hex("ac");
      p.sm = r.Hex("sm");
      p.value = r.Secret("value");
      p.maxTries = static_cast<uint8_t>(r.Num("max", 15));
      p.triesLeft = static_cast<uint8_t>(r.Num("left", 15));
      if (p.triesLeft > p.maxTries) Fail(n, "more tries left than allowed");
      p.unblockRef = r.Byte("unblock");
      p.grants = r.Hex("grants");
      for (const auto& q : df->pins)
        if (q.ref == p.ref) Fail(n, "PIN reference given twice");
      df->pins.push_back(std::move(p));
    } else if (k == "key") {
      FileNode* df = ResolveDf(st, r, n);
      KeyObject key;
      key.ref = r.Byte("ref");
      key.algo = r.Byte("algo");
      key.options = r.Hex("opt");
      key.ac = r.Hex("ac");
      key.sm = r.Hex("sm");
      // Any length the card can keep: a CRT key doubles the length of its first
      // template, which may be up to a component long.
      key.size = static_cast<uint16_t>(r.Num("size", 0xFFFF));
      key.publicExponent = r.Hex("pubexp");
      for (const auto& q : df->keys)
        if (q.ref == key.ref) Fail(n, "key reference given twice");
      df->keys.push_back(std::move(key));
    } else if (k == "comp") {
      FileNode* df = ResolveDf(st, r, n);
      uint8_t ref = r.Byte("ref");
      KeyObject* key = nullptr;
      for (auto& q : df->keys)
        if (q.ref == ref) key = &q;
      if (!key) Fail(n, "component of an unknown key");
      KeyComponent c;
      c.loaded = r.Num("loaded", 1) == 1;
      c.value = r.Secret("value");
      if (c.value.size() > 1024) Fail(n, "key component too long");
      key->comps[r.Byte("class")] = std::move(c);
    } else {
      Fail(n, "unknown keyword " + k);
    }
  }
  if (st.masterKey.empty()) st.masterKey = DefaultMasterKey();
  if (!haveVersion) throw std::runtime_error("card image without a version line");
  if (st.versionBytes.size() != 2) throw std::runtime_error("card image: versionbytes must be 2 bytes");
  if (st.atr.empty()) throw std::runtime_error("card image without an ATR");
  return st;
}

CardState LoadImageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("cannot open card image " + path);
  const std::streamoff size = in.tellg();
  if (size < 0) throw std::runtime_error("cannot read card image " + path);
  if (static_cast<uint64_t>(size) > kMaxImage) throw std::runtime_error("card image too large: " + path);
  // The text holds PINs and keys: read in one piece into a buffer of its final
  // size (no staging buffer, no copies left behind by growing), wiped once parsed.
  std::string text(static_cast<size_t>(size), '\0');
  WipeOnExit wipe{text};
  in.seekg(0);
  in.read(text.data(), size);
  text.resize(static_cast<size_t>(in.gcount()));
  try {
    return ParseImage(text);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

void SaveImageFile(const std::string& path, const CardState& state) {
  std::string text = SerializeImage(state);
  WipeOnExit wipe{text};
  std::string tmpl = path + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file beside " + path + ": " + std::strerror(errno));
  const std::string tmp(name.data());
  fchmod(fd, 0600);
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    ssize_t w = ::write(fd, text.data() + done, text.size() - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(w);
  }
  // On the disk before the rename: a crash then leaves the old image or the
  // new one, never a renamed file whose contents were not yet written.
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    const std::string err = std::strerror(errno);
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot write card image " + path + ": " + err);
  }
}

}  // namespace vexa::vcard
