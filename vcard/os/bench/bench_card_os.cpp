// Prints the command rate of the card OS simulator (commands that only read,
// commands that write the image) and its RSA-2048 signature rate next to
// OpenSSL's own.
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "vexa/vcard/card_os.h"
#include "vexa/vcard/perso.h"

using namespace vexa::vcard;
using Clock = std::chrono::steady_clock;

namespace {

Bytes H(const char* hex) {
  Bytes b;
  for (const char* p = hex; p[0] && p[1];) {
    if (*p == ' ') {
      ++p;
      continue;
    }
    b.push_back(static_cast<uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
    p += 2;
  }
  return b;
}

double Rate(int n, Clock::time_point t0) {
  return n / std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/vcardos-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string image = std::string(tmpl) + "/card.img";
  PersoOptions o;
  CreateCardImage(image, o);
  auto card = OpenCardImage(image);
  card->PowerOn();

  const Bytes getData = H("00 CA 01 83 01");
  int n = 200000;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) card->Process(getData);
  std::printf("read-only commands (GET DATA): %.0f per second\n", Rate(n, t0));

  const Bytes phase = H("80 10 00 00");
  n = 2000;
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) card->Process(phase);
  std::printf("commands that write the image (PHASE CONTROL): %.0f per second\n", Rate(n, t0));

  // A 2048-bit key generated on the card in DF 0101 of the application.
  card->Process(H("00 A4 04 00 09 A0 00 00 07 56 45 58 41 01"));
  if (card->Process(H("00 CA 01 83 01"))[0] == 0x10) card->Process(phase);
  card->Process(H("00 20 00 90 08 31 32 33 34 35 36 37 38"));
  Bytes df = H("00 E0 00 00 38 62 36 81 02 03 40 82 01 38 83 02 01 01 85 03 00 03 40 86 0A 00 00 00 00 00 00 00 00 00 00 CB 18");
  df.insert(df.end(), 24, 0xFF);
  Bytes ef = H("00 E0 00 00 35 62 33 80 02 02 28 82 01 01 83 02 01 01 85 01 00 86 09 00 00 00 FF FF 00 00 FF FF CB 18");
  ef.insert(ef.end(), 24, 0xFF);
  card->Process(df);
  card->Process(ef);
  Bytes kpri = H("00 DA 01 6E");
  // Create_KpriRSA2 placeholders (h + 2, h - 2, ... with h = 128).
  const uint8_t lens[5] = {130, 126, 130, 126, 130};
  for (int c = 0; c < 5; ++c) {
    Bytes tt = H("83 02 20 01 85 08 22 00 10 0F FF FF 00 00 86 09 03 03 03 03 03 03 03 03 03 CB 10");
    tt[2] = static_cast<uint8_t>(0x20 + c);
    if (c) tt[6] = 0x02;
    tt.insert(tt.end(), 16, 0xFF);
    tt.push_back(0x8F);
    tt.push_back(lens[c]);
    tt.insert(tt.end(), lens[c], 0xFF);
    Bytes apdu = kpri;
    apdu.push_back(static_cast<uint8_t>(tt.size()));
    apdu.insert(apdu.end(), tt.begin(), tt.end());
    card->Process(apdu);
  }
  auto g0 = Clock::now();
  Bytes gen = card->Process(H("00 46 00 00 08 20 01 01 01 00 00 00 18"));
  std::printf("GENERATE KEY PAIR 2048 bits: %04X in %.0f ms\n", gen[gen.size() - 2] << 8 | gen.back(),
              std::chrono::duration<double, std::milli>(Clock::now() - g0).count());
  card->Process(H("00 22 F3 01"));
  card->Process(H("00 22 F1 B6 03 83 01 01"));
  const Bytes cds = H("00 2A 9E 9A 23 30 21 30 09 06 05 2B 0E 03 02 1A 05 00 04 14 A9 99 3E 36 47 06 81 6A BA 3E 25 71 78 50 C2 6C 9C D0 D8 9D 90");
  n = 200;
  t0 = Clock::now();
  Bytes last;
  for (int i = 0; i < n; ++i) last = card->Process(cds);
  std::printf("PSO COMPUTE DIGITAL SIGNATURE, RSA-2048: %.1f per second (status %02X%02X)\n", Rate(n, t0),
              last[last.size() - 2], last.back());

  EVP_PKEY* key = EVP_RSA_gen(2048);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  EVP_PKEY_sign_init(ctx);
  EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING);
  const Bytes msg(cds.begin() + 5, cds.end() - 1);
  unsigned char sig[512];
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    size_t len = sizeof sig;
    EVP_PKEY_sign(ctx, sig, &len, msg.data(), msg.size());
  }
  std::printf("OpenSSL RSA-2048 PKCS #1 signature (CRT): %.1f per second\n", Rate(n, t0));
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(key);
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
  return 0;
}
