#include "tlv.h"

namespace vexa::vcard {

namespace {

// ber: lengths 81 xx and 82 xx xx; otherwise every length is one byte.
std::optional<std::vector<Tlv>> Parse(std::span<const uint8_t> d, bool ber) {
  std::vector<Tlv> out;
  size_t i = 0;
  while (i < d.size()) {
    uint16_t tag = d[i++];
    if (tag == 0x7F || tag == 0x5F) {
      if (i >= d.size()) return std::nullopt;
      tag = static_cast<uint16_t>(tag << 8 | d[i++]);
    }
    if (i >= d.size()) return std::nullopt;
    size_t len = d[i++];
    if (!ber) {
    } else if (len == 0x81) {
      if (i >= d.size()) return std::nullopt;
      len = d[i++];
    } else if (len == 0x82) {
      if (i + 1 >= d.size()) return std::nullopt;
      len = static_cast<size_t>(d[i]) << 8 | d[i + 1];
      i += 2;
    } else if (len > 0x80) {
      return std::nullopt;
    }
    if (len > d.size() - i) return std::nullopt;
    out.push_back({tag, Bytes(d.begin() + static_cast<std::ptrdiff_t>(i), d.begin() + static_cast<std::ptrdiff_t>(i + len))});
    i += len;
  }
  return out;
}

}  // namespace

std::optional<std::vector<Tlv>> ParseTlvs(std::span<const uint8_t> d) {
  if (auto r = Parse(d, false)) return r;
  return Parse(d, true);
}

const Tlv* FindTag(const std::vector<Tlv>& tlvs, uint16_t tag) {
  for (const auto& t : tlvs)
    if (t.tag == tag) return &t;
  return nullptr;
}

void PutTlv(Bytes& out, uint16_t tag, std::span<const uint8_t> v) {
  if (tag > 0xFF) out.push_back(static_cast<uint8_t>(tag >> 8));
  out.push_back(static_cast<uint8_t>(tag));
  if (v.size() < 0x80) {
    out.push_back(static_cast<uint8_t>(v.size()));
  } else if (v.size() < 0x100) {
    out.push_back(0x81);
    out.push_back(static_cast<uint8_t>(v.size()));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(v.size() >> 8));
    out.push_back(static_cast<uint8_t>(v.size()));
  }
  out.insert(out.end(), v.begin(), v.end());
}

}  // namespace vexa::vcard
