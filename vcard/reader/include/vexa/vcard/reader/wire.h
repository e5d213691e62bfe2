// The wire protocol between the vpcd reader driver and a virtual card.
//
// Both directions carry frames: a 2-byte big-endian length, then that many
// payload bytes. From the driver, a 1-byte payload is a control code (see
// ControlCode) and a longer payload is a command APDU. The card answers the
// "get ATR" code with the ATR and every command APDU with the response data
// followed by SW1 SW2; the other control codes get no answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vexa::vcard::reader {

using Bytes = std::vector<uint8_t>;

enum class ControlCode : uint8_t {
  kPowerOff = 0,
  kPowerOn = 1,
  kReset = 2,
  kGetAtr = 4,
};

// The largest payload a frame can carry (the length field has 16 bits).
inline constexpr std::size_t kMaxFramePayload = 0xFFFF;

// Cuts a byte stream into frame payloads. Bytes may arrive in any pieces; a
// frame is handed out once it is complete. Every length 0..65535 is accepted
// here; what a payload means is decided by the caller.
class FrameDecoder {
 public:
  void Feed(std::span<const uint8_t> data);
  // The next complete payload, or nothing while the frame is still incomplete.
  std::optional<Bytes> Next();
  // Bytes received but not yet handed out as a payload.
  std::size_t Pending() const { return m_buffer.size() - m_start; }

 private:
  Bytes m_buffer;
  std::size_t m_start = 0;
};

// The frame (length + payload) for a payload. Returns nothing when the payload
// is longer than kMaxFramePayload: the length would not fit in 16 bits.
std::optional<Bytes> EncodeFrame(std::span<const uint8_t> payload);

}  // namespace vexa::vcard::reader
