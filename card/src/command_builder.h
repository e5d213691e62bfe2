// Building the data field of a card command. The data are kept in a wiping
// buffer (PINs and key material pass through here) and can never outgrow it;
// a field that does not fit a short command is refused when it is sent.
#pragma once

#include <initializer_list>
#include <span>

#include "card_guard.h"
#include "card_trace.h"
#include "vexa/card/apdu.h"
#include "vexa/card/card_sm.h"
#include "vexa/platform/secure.h"

namespace vexa::card {

// Largest data field of a short command.
inline constexpr std::size_t kMaxShortData = 255;

class Command {
 public:
  Command(BYTE cla, BYTE ins, BYTE p1, BYTE p2, BYTE le = 0) : m_apdu{} {
    m_apdu.CLA = cla;
    m_apdu.INS = ins;
    m_apdu.P1 = p1;
    m_apdu.P2 = p2;
    m_apdu.Le = le;
  }
  Command& Add(BYTE b) {
    m_data.push_back(b);
    return *this;
  }
  Command& Add(std::initializer_list<BYTE> bytes) {
    for (BYTE b : bytes) m_data.push_back(b);
    return *this;
  }
  Command& Add(std::span<const BYTE> bytes) {
    m_data.insert(m_data.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Command& Fill(BYTE b, std::size_t n) {
    m_data.insert(m_data.end(), n, b);
    return *this;
  }
  // tag, one length byte, value (the value must be shorter than 256 bytes).
  Command& Tlv(BYTE tag, std::span<const BYTE> value) {
    m_data.push_back(tag);
    m_data.push_back(static_cast<BYTE>(value.size()));
    return Add(value);
  }
  // A record given by pointer, or its default bytes when the pointer is null.
  Command& RecordOr(BYTE tag, const BYTE* rec, std::initializer_list<BYTE> def) {
    m_data.push_back(tag);
    m_data.push_back(static_cast<BYTE>(def.size()));
    if (rec) return Add(std::span<const BYTE>(rec, def.size()));
    for (BYTE b : def) m_data.push_back(b);
    return *this;
  }
  // A record given by pointer, or n bytes def when the pointer is null.
  Command& RecordFill(BYTE tag, const BYTE* rec, std::size_t n, BYTE def) {
    m_data.push_back(tag);
    m_data.push_back(static_cast<BYTE>(n));
    if (rec) return Add(std::span<const BYTE>(rec, n));
    return Fill(def, n);
  }
  std::size_t Size() const { return m_data.size(); }
  bool Fits() const { return m_data.size() <= kMaxShortData; }
  std::span<const BYTE> Data() const { return m_data; }
  // The record to send; valid while this object lives and is not changed.
  APDU Apdu() const {
    APDU a = m_apdu;
    a.Lc = static_cast<BYTE>(m_data.size());
    a.pData = m_data.empty() ? nullptr : m_data.data();
    return a;
  }
  APDU& Header() { return m_apdu; }

 private:
  APDU m_apdu;
  SecureBytes m_data;
};

// Runs an exported operation: entry and exit trace lines, and no exception
// leaves it.
template <class F>
LONG Run(const char* name, F&& body) noexcept {
  TraceIn(name);
  const LONG rc = Guarded(std::forward<F>(body));
  TraceOut(name, rc);
  return rc;
}

inline WORD Be16(const BYTE* p) { return static_cast<WORD>((p[0] << 8) | p[1]); }
inline BYTE Hi(DWORD v) { return static_cast<BYTE>((v >> 8) & 0xFF); }
inline BYTE Lo(DWORD v) { return static_cast<BYTE>(v & 0xFF); }

}  // namespace vexa::card
