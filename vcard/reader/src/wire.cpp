#include "vexa/vcard/reader/wire.h"

namespace vexa::vcard::reader {

void FrameDecoder::Feed(std::span<const uint8_t> data) {
  // Drop what was already handed out before the buffer grows again, so that a
  // long session does not keep every byte it ever received.
  if (m_start > 0 && m_start == m_buffer.size()) {
    m_buffer.clear();
    m_start = 0;
  } else if (m_start > 4096) {
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start));
    m_start = 0;
  }
  m_buffer.insert(m_buffer.end(), data.begin(), data.end());
}

std::optional<Bytes> FrameDecoder::Next() {
  const std::size_t avail = m_buffer.size() - m_start;
  if (avail < 2) return std::nullopt;
  const std::size_t len = (static_cast<std::size_t>(m_buffer[m_start]) << 8) | m_buffer[m_start + 1];
  if (avail - 2 < len) return std::nullopt;
  const auto first = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_start + 2);
  Bytes payload(first, first + static_cast<std::ptrdiff_t>(len));
  m_start += 2 + len;
  return payload;
}

std::optional<Bytes> EncodeFrame(std::span<const uint8_t> payload) {
  if (payload.size() > kMaxFramePayload) return std::nullopt;
  Bytes frame;
  frame.reserve(payload.size() + 2);
  frame.push_back(static_cast<uint8_t>(payload.size() >> 8));
  frame.push_back(static_cast<uint8_t>(payload.size() & 0xFF));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

}  // namespace vexa::vcard::reader
