#include "apdu.h"

namespace vexa::vcard {

std::optional<Command> ParseCommand(const Bytes& a) {
  if (a.size() < 4) return std::nullopt;
  Command c;
  c.cla = a[0];
  c.ins = a[1];
  c.p1 = a[2];
  c.p2 = a[3];
  const size_t n = a.size();
  if (n == 4) return c;
  if (n == 5) {
    c.le = a[4] == 0 ? 256u : a[4];
    return c;
  }
  if (a[4] != 0) {
    const size_t lc = a[4];
    if (n == 5 + lc) {
      c.data.assign(a.begin() + 5, a.end());
      return c;
    }
    if (n == 6 + lc) {
      c.data.assign(a.begin() + 5, a.end() - 1);
      c.le = a.back() == 0 ? 256u : a.back();
      return c;
    }
    return std::nullopt;
  }
  // Extended length: 00 followed by two length bytes.
  if (n < 7) return std::nullopt;
  c.extended = true;
  const size_t first = static_cast<size_t>(a[5]) << 8 | a[6];
  if (n == 7) {
    c.le = first == 0 ? 65536u : static_cast<uint32_t>(first);
    return c;
  }
  if (first == 0) return std::nullopt;
  if (n == 7 + first) {
    c.data.assign(a.begin() + 7, a.end());
    return c;
  }
  if (n == 9 + first) {
    c.data.assign(a.begin() + 7, a.end() - 2);
    const uint32_t le = static_cast<uint32_t>(a[n - 2]) << 8 | a[n - 1];
    c.le = le == 0 ? 65536u : le;
    return c;
  }
  return std::nullopt;
}

Bytes Answer(uint16_t status) { return {static_cast<uint8_t>(status >> 8), static_cast<uint8_t>(status)}; }

Bytes Answer(Bytes data, uint16_t status) {
  data.push_back(static_cast<uint8_t>(status >> 8));
  data.push_back(static_cast<uint8_t>(status));
  return data;
}

uint16_t StatusOf(const Bytes& r) {
  if (r.size() < 2) return 0;
  return static_cast<uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
}

}  // namespace vexa::vcard
