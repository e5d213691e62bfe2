// CCardSM: secure messaging between the card session and the card OS command
// classes. It turns a plain APDU into a protected one (3DES-CBC enciphered data
// and a retail MAC over the card's challenge), holds the padding functions, the
// challenge and random commands and the card OS version checks.
//
// Results follow the card access library: 0, a card status word (positive), a
// PC/SC error (negative), or one of the library codes below.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "vexa/card/access_records.h"
#include "vexa/card/card_session.h"
#include "vexa/crypto/des3mac.h"
#include "vexa/platform/export.h"
#include "vexa/platform/secure.h"

// The secure-messaging request of a command. Both flags must be nonzero: the
// only protection is enciphered data with a MAC. A null SMFLAGS pointer sends the
// command plain.
struct SMFLAGS {
  DWORD dwEnc = 0;  // encipher the command data
  DWORD dwMac = 0;  // authenticate the command with a MAC
};

// Library result codes (besides 0, status words and PC/SC errors).
inline constexpr LONG SM_ERR_FLAGS = -1;            // SMFLAGS with a zero flag; bad padding
inline constexpr LONG CARD_ERR_BAD_MODE = -104;     // unknown 3DES mode (M3)
inline constexpr LONG CARD_ERR_SELECT_MODE = -105;  // unsupported selection mode
inline constexpr LONG CARD_ERR_TOO_LONG = -106;     // command data too long to send or protect
inline constexpr LONG CARD_ERR_SHORT_UID = -107;    // GET DATA 01 81 answered fewer than 16 bytes
inline constexpr LONG CARD_ERR_ARGUMENT = -108;     // missing or inconsistent argument
inline constexpr LONG CARD_ERR_RESPONSE = -109;     // card answer shorter than the command needs
inline constexpr LONG CARD_ERR_VERSION = -200;      // card OS version not recognised

class VEXA_API CCardSM : public CCardSession {
 public:
  // Largest command data that SM_ENC_SIG_C can protect (239 bytes give 253).
  static constexpr DWORD kMaxProtectedData = 239;

  CCardSM();
  CCardSM(const CCardSM& other);
  CCardSM& operator=(const CCardSM& other);
  ~CCardSM() override;

  // ---- padding (ISO/IEC 9797-1 method 2 "ISO", method 1 "ANSI") ----
  // n - (n mod 8) + 8: 1 to 8 bytes more.
  static DWORD LenPadISO(DWORD n);
  // n rounded up to a multiple of 8.
  static DWORD LenPadANSI(DWORD n);
  // data, 80, zeros up to LenPadISO(n) into out; the padded length, or -1 when
  // out is smaller. data and out may be the same memory.
  static long MKPadISO(std::span<const BYTE> data, std::span<BYTE> out);
  // data and zeros up to LenPadANSI(n); the padded length, or -1.
  static long MKPadANSI(std::span<const BYTE> data, std::span<BYTE> out);
  // The length before the 80 marker (at most 8 zero bytes after it), or -1.
  static long RMPadISO(std::span<const BYTE> data);
  // The length up to the last nonzero byte (at most 8 zero bytes skipped), or -1.
  static long RMPadANSI(std::span<const BYTE> data);

  // ---- keys ----
  // Encipherment and MAC key (K1, K2, K3), each 8 bytes. 0.
  long initializeKeysSM(const BYTE* k1, const BYTE* k2, const BYTE* k3);
  // Encipherment key (K1, K2, K3) and MAC key (M1, M2, M3). 0.
  long initializeKeysSM(const BYTE* k1, const BYTE* k2, const BYTE* k3, const BYTE* m1,
                        const BYTE* m2, const BYTE* m3);

  // ---- protection of a plain command ----
  // Enciphered data (87), the card's challenge and a MAC (8E): see the source.
  // The out record's data live in this object until the next protected command.
  long SM_ENC_SIG_C(const APDU& in, APDU& out);
  // Plain-text object 81, Le object 96 and a challenge MAC (not used by the system).
  long SM_SIG_C(const APDU& in, APDU& out);
  // Cipher-text object 87 and Le object 96, no MAC (not used by the system).
  long SM_ENC_C(const APDU& in, APDU& out);
  // The "4" forms of the administration commands: no challenge; CLA OR 04.
  long SM_SIG_4(const APDU& in, APDU& out);
  long SM_ENC_4(const APDU& in, APDU& out);
  long SM_ENC_SIG_4(const APDU& in, APDU& out);

  // ---- checks of protected responses (not used by the system); 0 or -1 ----
  // 87 L 01 cryptogram: deciphered and unpadded into out (*pdwOut: capacity in,
  // length out).
  long Response_SM_ENC(std::span<const BYTE> resp, BYTE* out, DWORD* pdwOut);
  // 81 L data ... 8E 08 MAC: the MAC over header block and response is checked
  // against the last 8 bytes. header: the 16-byte header block of the command.
  long Response_SM_SIG(std::span<const BYTE> resp, std::span<const BYTE> header);
  // Both checks, then the deciphered data into out.
  long Response_SM_ENC_SIG(std::span<const BYTE> resp, std::span<const BYTE> header,
                           BYTE* out, DWORD* pdwOut);
  // 81 L data with L + 2 = the response length: the data into out.
  long Response_SM_Suppressed(std::span<const BYTE> resp, BYTE* out, DWORD* pdwOut);

  // Working buffers of a protected exchange (command in/out, response in/out);
  // RemoveSM forgets them.
  void InitSM(BYTE* pbCmdIn, DWORD dwCmdIn, BYTE* pbCmdOut, DWORD dwCmdOut, BYTE* pbRespIn,
              DWORD dwRespIn, BYTE* pbRespOut, DWORD dwRespOut);
  void RemoveSM();

  // ---- card commands of the secure-messaging layer ----
  // GET CHALLENGE 00 84 00 00, Le n: n (1..255) random bytes into buf.
  LONG GetChallenge(BYTE* buf, DWORD n);
  // GIVE RANDOM A0 86 00 00 with the n bytes as data.
  LONG GiveRandom(const BYTE* buf, DWORD n);

  // ---- cipher steps, each with its key and a zero IV ----
  // ISO-pad and encipher with the encipherment key; *pdwCap: capacity in,
  // padded length out; -1 when the capacity is too small.
  long mkEnc(const BYTE* data, DWORD n, BYTE* out, DWORD* pdwCap);
  // Decipher n bytes (a multiple of 8) and remove the ISO padding; *pdwOut:
  // capacity in (at least n), data length out. -1 for bad padding.
  long mkDec(const BYTE* data, DWORD n, BYTE* out, DWORD* pdwOut);
  // Zero-pad to a multiple of 8 and MAC with the MAC key into out (8 bytes).
  long mkMAC(const BYTE* data, DWORD n, BYTE* out);
  // Raw 3DES-CBC encipher / decipher of n bytes (a multiple of 8), and the MAC
  // of n padded bytes.
  long mkDESEnc(const BYTE* data, BYTE* out, DWORD n);
  long mkDESDec(const BYTE* data, BYTE* out, DWORD n);
  long mkMAC3(const BYTE* data, BYTE* out, DWORD n);

  // ---- card OS version (GET DATA 00 CA 01 82, read once per connection) ----
  LONG IsM3();
  LONG IsM4();
  LONG IsM401();
  LONG IsM401a();
  LONG IsM410();
  LONG IsM420();
  LONG IsM42b();
  LONG IsM440();
  // GET DATA 00 CA 01 89: *pdwKB = 64 or 32. 1, or the error or status word.
  LONG M420_32_64(DWORD* pdwKB);

 protected:
  // Block builders of SM_ENC_SIG_C (append to out; -1 on bad input).
  long SM_MK_Header_Block(const APDU& in, std::span<const BYTE> challenge,
                          vexa::SecureBytes& out);
  long SM_MK_Cipher_Text_Block(const APDU& in, vexa::SecureBytes& out);
  long SM_MK_Plain_Text_Block(const APDU& in, vexa::SecureBytes& out);
  long SM_MK_MAC_Object(std::span<const BYTE> header, std::span<const BYTE> objects,
                        vexa::SecureBytes& out);
  long SM_MK_Net_LE_Object(BYTE le, vexa::SecureBytes& out);
  long SM_MK_Net_LE_MAC_Block(BYTE le, vexa::SecureBytes& out);

  // The two bytes of the card OS version answer: 0 with *ver filled, or the
  // PC/SC error / status word of the query. The answer is kept for the
  // connection (the card handle it was read on).
  LONG ReadVersion(std::array<BYTE, 2>* ver);
  // Sets the out record to point at the protected data in the member buffer.
  long SetProtectedOut(const APDU& in, std::span<const BYTE> data, APDU& out);
  // Asks the card for a challenge, appends to the objects the MAC object over
  // the header block and the objects, and sets out to the result.
  long SetMacProtectedOut(const APDU& in, std::span<const BYTE> objects, APDU& out);

 private:
  long Cipher(const vexa::SecureBytes& key, bool encrypt, const BYTE* in, BYTE* out, DWORD n);
  long CheckedVersion(BYTE b1, BYTE b2, int strictness);

  C3Des_Mac m_3des;                  // every cryptogram and MAC goes through it
  std::array<BYTE, 1024> m_pbSMData{};  // data field of the last protected command
  vexa::SecureBytes m_EncKey;        // K1 K2 K3 (24 bytes)
  std::array<BYTE, 8> m_EncIV{};     // always zero
  vexa::SecureBytes m_MacKey;        // M1 M2 M3 (24 bytes)
  std::array<BYTE, 8> m_MacIV{};     // always zero
  vexa::SecureBytes m_sm4Data;       // data field of the last "4" form
  // Working buffers of InitSM (not owned).
  BYTE* m_pbCmdIn = nullptr;
  DWORD m_dwCmdIn = 0;
  BYTE* m_pbCmdOut = nullptr;
  DWORD m_dwCmdOut = 0;
  BYTE* m_pbRespIn = nullptr;
  DWORD m_dwRespIn = 0;
  BYTE* m_pbRespOut = nullptr;
  DWORD m_dwRespOut = 0;
  // The card OS version answer of the connection made on m_hVersionCard.
  std::optional<std::array<BYTE, 2>> m_version;
  SCARDHANDLE m_hVersionCard = 0;
};
