// Parser of the card's public-key template (see pubkey_template.h).
#include "pubkey_template.h"

namespace vexademo {
namespace {

// A cursor over the bytes that refuses to move past their end.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> d) : m_d(d) {}
  bool Byte(uint8_t& b) {
    if (m_pos >= m_d.size()) return false;
    b = m_d[m_pos++];
    return true;
  }
  // A BER definite length: short form, or 81 / 82 long forms.
  bool Length(std::size_t& len) {
    uint8_t b = 0;
    if (!Byte(b)) return false;
    if (b < 0x80) {
      len = b;
      return true;
    }
    if (b != 0x81 && b != 0x82) return false;
    len = 0;
    for (int i = 0; i < (b == 0x81 ? 1 : 2); ++i) {
      uint8_t x = 0;
      if (!Byte(x)) return false;
      len = (len << 8) | x;
    }
    return true;
  }
  bool Take(std::size_t n, std::span<const uint8_t>& out) {
    if (n > m_d.size() - m_pos) return false;
    out = m_d.subspan(m_pos, n);
    m_pos += n;
    return true;
  }

 private:
  std::span<const uint8_t> m_d;
  std::size_t m_pos = 0;
};

std::vector<uint8_t> Unsigned(std::span<const uint8_t> v) {
  std::size_t i = 0;
  while (i < v.size() && v[i] == 0) ++i;
  return {v.begin() + static_cast<std::ptrdiff_t>(i), v.end()};
}

TemplateResult Fail(const char* why) { return {std::nullopt, why}; }

}  // namespace

TemplateResult ParsePublicKeyTemplate(std::span<const uint8_t> data) {
  Reader r(data);
  uint8_t t1 = 0, t2 = 0;
  if (!r.Byte(t1) || !r.Byte(t2) || t1 != 0x7F || t2 != 0x49) return Fail("no 7F 49 template");
  std::size_t len = 0;
  std::span<const uint8_t> body;
  if (!r.Length(len) || !r.Take(len, body)) return Fail("template length runs past the data");

  Reader in(body);
  std::optional<std::vector<uint8_t>> n, e;
  uint8_t tag = 0;
  while (in.Byte(tag)) {
    std::size_t l = 0;
    std::span<const uint8_t> v;
    if (!in.Length(l) || !in.Take(l, v)) return Fail("element length runs past the template");
    if (tag == 0x81 && !n) n = Unsigned(v);
    else if (tag == 0x82 && !e) e = Unsigned(v);
    else return Fail("unexpected or repeated element in the template");
  }
  if (!n || n->empty()) return Fail("no modulus");
  if (!e || e->empty()) return Fail("no exponent");
  if ((n->back() & 1) == 0 || (e->back() & 1) == 0) return Fail("even modulus or exponent");
  return {RsaPublicKey{std::move(*n), std::move(*e)}, {}};
}

std::size_t PublicKeyTemplateSize(std::size_t modulusBytes) {
  return 5 + 4 + modulusBytes + 2 + 4;
}

}  // namespace vexademo
