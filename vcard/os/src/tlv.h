// Simple TLV walking for the templates the card receives (one-byte tags, except
// the two-byte 7F xx / 5F xx). The command templates carry one-byte lengths,
// also for values of 128 to 255 bytes; BER lengths (81 xx, 82 xx xx) are
// accepted when the one-byte reading does not fit the data.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

struct Tlv {
  uint16_t tag;
  Bytes value;
};

// Nothing when the bytes are not a sequence of well-formed TLVs.
std::optional<std::vector<Tlv>> ParseTlvs(std::span<const uint8_t> data);
const Tlv* FindTag(const std::vector<Tlv>& tlvs, uint16_t tag);
// Appends tag, BER length, value.
void PutTlv(Bytes& out, uint16_t tag, std::span<const uint8_t> value);

}  // namespace vexa::vcard
