// Tags of the directory's fields.
#pragma once

#include "codec.h"

namespace vexa_asn1_detail {
constexpr BYTE T_BOOLEAN = 0x01;
constexpr BYTE T_INTEGER = 0x02;
constexpr BYTE T_OCTETS = 0x04;
constexpr BYTE T_OID = 0x06;
constexpr BYTE T_NUMERIC = 0x12;
constexpr BYTE T_PRINTABLE = 0x13;
constexpr BYTE T_LIST = TAG_SEQUENCE;
constexpr BYTE T_ENTRIES = TAG_SET;
constexpr BYTE OCTET_TRUE = 0xFF;
constexpr BYTE OCTET_FALSE = 0x00;

// A flag field reads as 0 when its content is empty or 0x00.
inline int FlagOf(Bytes content) noexcept { return !content.empty() && content[0] != OCTET_FALSE; }
}  // namespace vexa_asn1_detail
