// RSA-2048 signatures per second through cmdPSO_CDS against the virtual card
// (private pcscd, virtual reader), next to the bare RSA-2048 private-key
// operation of OpenSSL in the same run, and the commands one signature costs.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "vexa/card/tavrix_m410.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kSeconds = 2.0;

const BYTE kUserPin[] = {'1', '2', '3', '4', '5', '6', '7', '8'};
// SHA-1 DigestInfo of "abc".
const BYTE kDigestInfo[35] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E, 0x03,
                              0x02, 0x1A, 0x05, 0x00, 0x04, 0x14, 0xA9, 0x99, 0x3E,
                              0x36, 0x47, 0x06, 0x81, 0x6A, 0xBA, 0x3E, 0x25, 0x71,
                              0x78, 0x50, 0xC2, 0x6C, 0x9C, 0xD0, 0xD8, 0x9D};

bool Check(LONG rc, const char* what) {
  if (rc == 0) return true;
  std::fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(rc));
  return false;
}

// A 2048-bit key pair generated on the card in key DF 00 03, private key 03.
bool MakeCardKey(CTavrixM410& card) {
  const vexa::vcard::PersoOptions defaults;
  const BYTE df[] = {0x00, 0x03};
  const BSAC410 ac{{3, 3, 3, 3, 3, 3, 3, 3, 3}};
  return Check(card.cmdSELECT_FILE(SEL_DF_NAME, defaults.aid.data(),
                                   static_cast<DWORD>(defaults.aid.size())),
               "SELECT application") &&
         Check(card.cmdVERIFY(0x10, kUserPin, 8), "VERIFY") &&
         Check(card.Create_DF_410(256 * 3 + 64, df), "Create_DF") &&
         Check(card.Create_KpriRSA2(0x03, 0x10, 256, FALSE, &ac), "Create_KpriRSA2") &&
         Check(card.Create_EF(256 * 2 + 40, df, FILE_TRANSPARENT,
                              static_cast<const EFAC410*>(nullptr), nullptr),
               "Create_EF") &&
         Check(card.cmdGENERATE_KEY_PAIR(df, 0x03), "GENERATE KEY PAIR") &&
         Check(card.cmdVERIFY(0x10, kUserPin, 8), "VERIFY");
}

double CardSignatures(CTavrixM410& card, vexa::testbed::VirtualCard& vcard, int* commands) {
  BYTE sig[256];
  DWORD n = sizeof sig;
  vcard.ClearLog();
  if (!Check(card.cmdPSO_CDS(0x01, 0x03, kDigestInfo, 35, sig, &n), "PSO CDS")) return 0;
  *commands = static_cast<int>(vcard.Log().size());
  int count = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  while (elapsed < kSeconds) {
    n = sizeof sig;
    if (!Check(card.cmdPSO_CDS(0x01, 0x03, kDigestInfo, 35, sig, &n), "PSO CDS")) return 0;
    ++count;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  return count / elapsed;
}

double SmallCommands(CTavrixM410& card) {
  int count = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  while (elapsed < kSeconds / 2) {
    if (card.GetLifeCycle() < 0) return 0;
    ++count;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  return count / elapsed;
}

double OpenSslSignatures() {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  if (!key) return 0;
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  unsigned char sig[256];
  int count = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  while (elapsed < kSeconds) {
    size_t n = sizeof sig;
    if (EVP_PKEY_sign(ctx, sig, &n, kDigestInfo, sizeof kDigestInfo) <= 0) break;
    ++count;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);
  return elapsed > 0 ? count / elapsed : 0;
}

}  // namespace

int main() {
  try {
    vexa::testbed::PcscTestbed bed(1);
    const std::string image = bed.Dir() + "/bench.img";
    vexa::vcard::PersoOptions opts;
    opts.version = "M4.10";
    vexa::vcard::CreateCardImage(image, opts);
    const std::string reader = bed.ReaderNames().at(0);
    vexa::testbed::VirtualCard vcard(bed, reader, image);
    CTavrixM410 card;
    if (!card.InitRM() || !Check(card.Connect(reader.c_str()), "Connect")) return 1;
    if (!MakeCardKey(card)) return 1;

    int commands = 0;
    const double small = SmallCommands(card);
    const double onCard = CardSignatures(card, vcard, &commands);
    const double bare = OpenSslSignatures();
    std::printf("small commands through pcscd (GET DATA 01 83): %.0f per second\n", small);
    std::printf("RSA-2048 signatures through cmdPSO_CDS (virtual card): %.1f per second, %d commands each\n",
                onCard, commands);
    std::printf("RSA-2048 private-key operations of OpenSSL (same process): %.1f per second\n", bare);
    card.Disconnect();
    return onCard > 0 && bare > 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
}
