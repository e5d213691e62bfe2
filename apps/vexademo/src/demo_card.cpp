#include "demo_card.h"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "demo_report.h"
#include "vexa/card/tavrix_m410.h"
#include "vexa/kernel/slots.h"

namespace vexademo {
namespace {

// Encipher the command data and authenticate the command.
constexpr SMFLAGS kSM{1, 1};
// Security environment restored before the key is used.
constexpr BYTE kEnv = 0x01;
// DigestInfo prefix of SHA-256 (DER: SEQUENCE { AlgorithmIdentifier, OCTET STRING }).
constexpr uint8_t kSha256Prefix[19] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                       0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

// A card transaction for the length of the job: no other process's commands
// come between ours (the secure-messaging challenge is good for one command).
class Transaction {
 public:
  explicit Transaction(CCardSession& card) : m_card(card) { m_card.LockSC(); }
  ~Transaction() { m_card.UnlockSC(); }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  CCardSession& m_card;
};

std::string Answer(LONG rc) {
  if (rc == 0) return "9000";
  if (rc > 0) return Hex16(rc);
  return "error " + std::to_string(rc);
}

std::vector<uint8_t> Sha256(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> md(32);
  unsigned int n = 0;
  if (EVP_Digest(data.data(), data.size(), md.data(), &n, EVP_sha256(), nullptr) != 1 || n != 32)
    return {};
  return md;
}

class Job {
 public:
  Job(const CardJob& job, CTavrixM410& card, CToken& token)
      : m_job(job), m_card(card), m_token(token) {}

  CardResult Run() {
    if (!Select() || !WrongPin() || !RightPin() || !Generate() || !ReadPublicKey() || !Sign())
      return m_result;
    m_result.ok = true;
    return m_result;
  }

 private:
  bool Fail(const std::string& what, LONG rc) {
    m_result.error = what + ": " + Answer(rc);
    return false;
  }

  bool Select() {
    const auto& aid = m_token.CurrentAID();
    if (aid.empty()) return Fail("the engine selected no application", -1);
    const LONG rc = m_card.cmdSELECT_FILE(SEL_DF_NAME, aid.data(), static_cast<DWORD>(aid.size()));
    Line("SELECT application " + Hex(aid) + ": " + Answer(rc));
    return rc == 0 || Fail("SELECT application", rc);
  }

  bool WrongPin() {
    vexa::SecureBytes wrong = m_job.pin;
    if (wrong.empty()) return Fail("no PIN given", -1);
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    const LONG rc = m_card.cmdVERIFY(m_job.pinRef, wrong.data(), static_cast<DWORD>(wrong.size()), &kSM);
    if ((rc & 0xFFF0) == 0x63C0 && rc > 0) {
      Line("VERIFY wrong PIN (secure messaging): " + Answer(rc) + " - refused, " +
           std::to_string(rc & 0x0F) + " tries left");
      return (rc & 0x0F) > 0 || Fail("the PIN is blocked now", rc);
    }
    return Fail("VERIFY with a wrong PIN was not refused with a retry counter", rc);
  }

  bool RightPin() {
    const LONG rc = Verify();
    Line("VERIFY user PIN (secure messaging): " + Answer(rc) + (rc == 0 ? " - verified" : ""));
    return rc == 0 || Fail("VERIFY user PIN", rc);
  }

  LONG Verify() {
    return m_card.cmdVERIFY(m_job.pinRef, m_job.pin.data(), static_cast<DWORD>(m_job.pin.size()), &kSM);
  }

  // Key DF 00 ref holding the private-key object (CRT components) and the EF
  // of the same identifier that receives the public key, then the pair itself.
  bool Generate() {
    const DWORD len = m_job.modulusBytes;
    const BYTE df[] = {0x00, m_job.keyRef};
    LONG rc = m_card.Create_DF_410(static_cast<WORD>(len * 3 + 64), df);
    if (rc != 0) return Fail("create key folder", rc);
    const BSAC410 useAfterPin{{0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03}};
    rc = m_card.Create_KpriRSA2(m_job.keyRef, 0x10, len, FALSE, &useAfterPin);
    if (rc != 0) return Fail("create private-key object", rc);
    rc = m_card.Create_EF(static_cast<WORD>(len * 2 + 40), df, FILE_TRANSPARENT,
                          static_cast<const EFAC410*>(nullptr), nullptr);
    if (rc != 0) return Fail("create public-key file", rc);
    rc = m_card.cmdGENERATE_KEY_PAIR(df, m_job.keyRef);
    Line("GENERATE KEY PAIR RSA-" + std::to_string(len * 8) + " (key " + Hex(df) + "): " + Answer(rc));
    return rc == 0 || Fail("GENERATE KEY PAIR", rc);
  }

  bool ReadPublicKey() {
    const BYTE df[] = {0x00, m_job.keyRef};
    LONG rc = m_card.cmdSELECT_FILE(SEL_EF, df, 2);
    if (rc != 0) return Fail("SELECT public-key file", rc);
    std::vector<BYTE> buf(PublicKeyTemplateSize(m_job.modulusBytes));
    DWORD n = static_cast<DWORD>(buf.size());
    rc = m_card.cmdREAD_BINARY(buf.data(), &n);
    if (rc != 0) return Fail("READ BINARY public key", rc);
    auto parsed = ParsePublicKeyTemplate(std::span<const uint8_t>(buf.data(), std::min<std::size_t>(n, buf.size())));
    if (!parsed.key) {
      m_result.error = "public key read back: " + parsed.error;
      return false;
    }
    m_result.publicKey = std::move(*parsed.key);
    Line("READ BINARY public key: " + std::to_string(m_result.publicKey.modulus.size() * 8) +
         "-bit modulus, exponent " + Hex(m_result.publicKey.exponent));
    return true;
  }

  bool Sign() {
    const auto md = Sha256(m_job.message);
    if (md.empty()) return Fail("SHA-256 of the message", -1);
    std::vector<BYTE> digestInfo(std::begin(kSha256Prefix), std::end(kSha256Prefix));
    digestInfo.insert(digestInfo.end(), md.begin(), md.end());
    std::vector<BYTE> sig(m_job.modulusBytes);
    DWORD n = static_cast<DWORD>(sig.size());
    LONG rc = m_card.cmdPSO_CDS(kEnv, m_job.keyRef, digestInfo.data(),
                                static_cast<DWORD>(digestInfo.size()), sig.data(), &n);
    if (rc == 0x6982) {
      // Creating the key objects changed the card's phase, which drops the
      // verified state: verify again and sign.
      const LONG v = Verify();
      Line("VERIFY user PIN again (secure messaging): " + Answer(v));
      if (v != 0) return Fail("VERIFY user PIN", v);
      n = static_cast<DWORD>(sig.size());
      rc = m_card.cmdPSO_CDS(kEnv, m_job.keyRef, digestInfo.data(),
                             static_cast<DWORD>(digestInfo.size()), sig.data(), &n);
    }
    Line("PSO COMPUTE DIGITAL SIGNATURE over the SHA-256 DigestInfo: " + Answer(rc));
    if (rc != 0) return Fail("PSO COMPUTE DIGITAL SIGNATURE", rc);
    if (n != m_job.modulusBytes) return Fail("signature of an unexpected length", static_cast<LONG>(n));
    sig.resize(n);
    m_result.signature = std::move(sig);
    return true;
  }

  const CardJob& m_job;
  CTavrixM410& m_card;
  CToken& m_token;
  CardResult m_result;
};

}  // namespace

CardResult RunCardJob(const CardJob& job) {
  CardResult out;
  try {
    std::shared_ptr<CSlot> slot = CSlots::FindSlot(job.slot);
    if (!slot) {
      out.error = "the slot is gone";
      return out;
    }
    // The slot's lock keeps the token (and its card session) alive while we use it.
    std::lock_guard<std::recursive_mutex> lock(slot->Lock());
    CToken* token = slot->Token();
    if (token == nullptr) {
      out.error = "the slot holds no token";
      return out;
    }
    CTavrixM410& card = token->Card();
    Transaction tx(card);
    return Job(job, card, *token).Run();
  } catch (const std::exception& e) {
    out.error = e.what();
  } catch (...) {
    out.error = "unexpected failure";
  }
  return out;
}

}  // namespace vexademo
