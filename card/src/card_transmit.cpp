// The command exchange of CCardSession: the Send forms and SendExt.
#include <PCSC/winscard.h>

#include <array>
#include <vector>

#include "apdu_codec.h"
#include "vexa/card/card_session.h"
#include "vexa/card/pcsc_table.h"
#include "vexa/platform/secure.h"
#include "vexa/platform/trace.h"

using vexa::card::Pcsc;

namespace {

constexpr DWORD kProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;

void TraceCommand(const APDU& apdu, const std::vector<BYTE>& cmd) {
  if (vexa::TraceLevel() < 1) return;
  if (!vexa::card::IsSecretCommand(apdu)) {
    vexa::TraceBytes(1, "APDU >> ", cmd.data(), cmd.size());
    return;
  }
  // Header and length bytes in clear, the data masked.
  const std::size_t n = vexa::card::DataLength(apdu);
  const std::size_t head = n == 0 ? cmd.size() : (apdu.bExtended != 0 ? 7 : 5);
  vexa::TraceBytes(1, "APDU >> ", cmd.data(), head);
  if (n != 0) vexa::TraceSecret(1, "\tdata", apdu.pData, n);
}

void TraceResponse(const APDU& apdu, const BYTE* raw, DWORD cb) {
  if (vexa::TraceLevel() < 1) return;
  if (cb > 2 && vexa::card::IsSecretResponse(apdu)) {
    vexa::TraceSecret(1, "APDU << data", raw, cb - 2);
    vexa::TraceBytes(1, "APDU << ", raw + cb - 2, 2);
    return;
  }
  vexa::TraceBytes(1, "APDU << ", raw, cb);
}

}  // namespace

LONG CCardSession::Send(APDU apdu, BYTE* pbResp, BYTE* pbLen) {
  BYTE sw1 = 0;
  BYTE sw2 = 0;
  const LONG rc = Send(apdu, pbResp, pbLen, &sw1, &sw2);
  if (rc != SCARD_S_SUCCESS) return rc;
  const LONG sw = (LONG{sw1} << 8) | sw2;
  return sw == 0x9000 ? 0 : sw;
}

LONG CCardSession::Send(APDU apdu, BYTE* pbResp, BYTE* pbLen, BYTE* pSW1, BYTE* pSW2) {
  try {
    const bool out = pbResp != nullptr && pbLen != nullptr;
    DWORD n = 0;
    const LONG rc = Exchange(apdu, false, out ? pbResp : nullptr, out ? *pbLen : 0, &n, pSW1, pSW2);
    if (rc == SCARD_S_SUCCESS && out) *pbLen = static_cast<BYTE>(n);
    return rc;
  } catch (...) {
    return SCARD_E_NO_MEMORY;
  }
}

LONG CCardSession::SendExt(APDU apdu, BYTE* pbResp, WORD* pwLen, BYTE* pSW1, BYTE* pSW2) {
  try {
    const bool out = pbResp != nullptr && pwLen != nullptr;
    DWORD n = 0;
    const LONG rc = Exchange(apdu, true, out ? pbResp : nullptr, out ? *pwLen : 0, &n, pSW1, pSW2);
    if (rc == SCARD_S_SUCCESS && out) *pwLen = static_cast<WORD>(n);
    return rc;
  } catch (...) {
    return SCARD_E_NO_MEMORY;
  }
}

LONG CCardSession::Exchange(const APDU& apdu, bool bExt, BYTE* pbResp, DWORD cbCapacity,
                            DWORD* pcbData, BYTE* pSW1, BYTE* pSW2) {
  if (m_hCard == 0) return SCARD_E_INVALID_HANDLE;
  // The command bytes may hold a PIN or a key: the buffer is wiped after every
  // use. It is a plain local: a thread_local with a destructor would pin the
  // library (and the engine above it) in memory after dlclose.
  std::vector<BYTE> cmd;
  struct WipeOnExit {
    std::vector<BYTE>& b;
    ~WipeOnExit() { vexa::SecureWipe(b.data(), b.size()); }
  } wipeCmd{cmd};
  LONG rc = vexa::card::EncodeCommand(
      apdu, m_bChannel, bExt ? vexa::card::SendForm::kSendExt : vexa::card::SendForm::kSend, cmd);
  if (rc != SCARD_S_SUCCESS) return rc;
  TraceCommand(apdu, cmd);

  // An extended command may be answered with up to 65533 data bytes.
  const bool large = apdu.bExtended != 0;
  std::array<BYTE, vexa::card::kShortReceive> shortBuf;
  std::vector<BYTE> largeBuf;
  if (large) largeBuf.resize(vexa::card::kExtendedReceive);
  BYTE* recv = large ? largeBuf.data() : shortBuf.data();
  const DWORD recvSize = large ? vexa::card::kExtendedReceive : vexa::card::kShortReceive;
  DWORD cb = recvSize;
  // A deciphered plaintext is wiped from the receive buffer once copied out.
  struct WipeRecv {
    BYTE* p;
    DWORD size;
    bool secret;
    ~WipeRecv() {
      if (secret) vexa::SecureWipe(p, size);
    }
  } wipeRecv{recv, recvSize, vexa::card::IsSecretResponse(apdu)};

  ++m_dwCommands;
  rc = Pcsc().Transmit(m_hCard, SCARD_PCI_T1, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr,
                       recv, &cb);
  if (rc != SCARD_S_SUCCESS) {
    Trace(1, "\tTransmit 0x%08lX, repeated\n", static_cast<unsigned long>(static_cast<DWORD>(rc)));
    if (rc == SCARD_W_RESET_CARD) {
      DWORD proto = 0;
      Pcsc().Reconnect(m_hCard, SCARD_SHARE_SHARED, kProtocols, SCARD_LEAVE_CARD, &proto);
    }
    cb = recvSize;
    rc = Pcsc().Transmit(m_hCard, SCARD_PCI_T1, cmd.data(), static_cast<DWORD>(cmd.size()),
                         nullptr, recv, &cb);
    if (rc != SCARD_S_SUCCESS) {
      Trace(1, "\tTransmit 0x%08lX\n", static_cast<unsigned long>(static_cast<DWORD>(rc)));
      return rc;
    }
  }
  if (cb > recvSize) cb = recvSize;  // never trust a length beyond the buffer

  vexa::card::Response resp;
  if (!vexa::card::SplitResponse(std::span<const BYTE>(recv, cb), resp)) {
    // No status word: the card went away in the middle of the command, or the
    // reader lost it. Tell the two apart by the reader's state.
    SCARD_READERSTATE rs{};
    rs.szReader = m_szReader.c_str();
    rs.dwCurrentState = SCARD_STATE_UNAWARE;
    const LONG st = Pcsc().GetStatusChange(m_hContext, 0, &rs, 1);
    const bool gone = st == SCARD_S_SUCCESS && (rs.dwEventState & SCARD_STATE_PRESENT) == 0;
    rc = gone ? SCARD_W_REMOVED_CARD : SCARD_F_COMM_ERROR;
    Trace(1, "\tresponse of %lu bytes: 0x%08lX\n", static_cast<unsigned long>(cb),
          static_cast<unsigned long>(static_cast<DWORD>(rc)));
    return rc;
  }
  TraceResponse(apdu, recv, cb);
  if (pSW1 != nullptr) *pSW1 = resp.sw1;
  if (pSW2 != nullptr) *pSW2 = resp.sw2;
  if (pbResp != nullptr) {
    if (resp.data.size() > cbCapacity) {
      Trace(1, "\tresponse of %zu bytes for a buffer of %lu\n", resp.data.size(),
            static_cast<unsigned long>(cbCapacity));
      return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::copy(resp.data.begin(), resp.data.end(), pbResp);
    *pcbData = static_cast<DWORD>(resp.data.size());
  }
  return SCARD_S_SUCCESS;
}
