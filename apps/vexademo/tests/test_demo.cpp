// Smoke test of the demo program against a virtual M4.40 card in a private
// pcscd: it lists the token, shows the retry counter of a wrong PIN, signs with
// a key generated on the card, and the signature verifies with OpenSSL against
// the public key it wrote; a removal and reinsertion reach the engine. The PIN
// stays out of the engine's trace.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

namespace {

using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Runs the shell command; its standard output and exit status. onLine sees
// each line of output as it comes.
std::pair<int, std::string> Shell(const std::string& cmd,
                                  const std::function<void(const std::string&)>& onLine = {}) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return {-1, out};
  std::array<char, 4096> buf;
  while (fgets(buf.data(), static_cast<int>(buf.size()), p) != nullptr) {
    out += buf.data();
    if (onLine) onLine(buf.data());
  }
  const int st = pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

// A shell command that returns once the file exists (at most 15 s; fails after).
std::string WaitForFile(const std::filesystem::path& f) {
  const std::string q = "\"" + f.string() + "\"";
  return "i=0; until [ -e " + q + " ] || [ $i -ge 300 ]; do sleep 0.05; i=$((i+1)); done; [ -e " + q + " ]";
}

bool Verifies(const std::string& pemPath, const std::string& message, const std::string& sig) {
  FILE* f = fopen(pemPath.c_str(), "r");
  if (f == nullptr) return false;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(PEM_read_PUBKEY(f, nullptr, nullptr, nullptr),
                                                          EVP_PKEY_free);
  fclose(f);
  if (!key) return false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  return EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

TEST(VexaDemoProgram, RunsEveryStepOnTheVirtualCard) {
  PcscTestbed bed(1);
  const std::filesystem::path dir = bed.Dir();
  vexa::vcard::PersoOptions o;
  o.version = "M4.40";
  o.userPin.smRequired = true;  // the PIN is accepted only under secure messaging
  vexa::vcard::CreateCardImage((dir / "card.img").string(), o);
  const std::string reader = bed.ReaderNames().at(0);
  VirtualCard card(bed, reader, (dir / "card.img").string());

  const std::filesystem::path trace = dir / "trace";
  std::filesystem::create_directory(trace);
  std::ofstream(dir / "registry.reg") << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
                                      << "\"AID\"=hex:a0,00,00,07,56,45,58,41,01\n"
                                      << "\"vexakernel\"=dword:00000004\n"
                                      << "\"TraceDir\"=\"" << trace.string() << "\"\n";
  const std::string message = "signed in the smoke test\n";
  std::ofstream(dir / "message.txt") << message;

  // The demo's removal and insertion commands wait for this test, which moves
  // the card when the demo says so.
  const std::string removeCmd = WaitForFile(dir / "removed"), insertCmd = WaitForFile(dir / "inserted");
  auto onLine = [&](const std::string& line) {
    if (line.find("removing the card") != std::string::npos) {
      card.Remove();
      std::ofstream(dir / "removed").put('1');
    } else if (line.find("inserting the card again") != std::string::npos) {
      card.Insert();
      std::ofstream(dir / "inserted").put('1');
    }
  };
  const auto [rc, out] = Shell("printf '12345678\\n' | VEXA_REGISTRY='" + (dir / "registry.reg").string() +
                                   "' '" VEXADEMO_PROGRAM "' --out '" + dir.string() + "' --message '" +
                                   (dir / "message.txt").string() + "' --remove-cmd '" + removeCmd + "' --insert-cmd '" + insertCmd + "'",
                               onLine);
  ASSERT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("empty (card removed)"), std::string::npos) << out;
  EXPECT_NE(out.find("still valid: no"), std::string::npos) << out;
  EXPECT_NE(out.find("the engine's slots after reinsertion"), std::string::npos) << out;
  for (const char* want : {"token open", "card OS M4.40 (4,40)", "UID 05 11 22 33 44 55 66",
                           "63C2 - refused, 2 tries left", "VERIFY user PIN (secure messaging): 9000",
                           "GENERATE KEY PAIR RSA-2048", "2048-bit modulus, exponent 01 00 01",
                           "PSO COMPUTE DIGITAL SIGNATURE over the SHA-256 DigestInfo: 9000"})
    EXPECT_NE(out.find(want), std::string::npos) << want << "\n" << out;
  EXPECT_EQ(out.find("12345678"), std::string::npos);

  const std::string sig = ReadFile(dir / "signature.bin");
  EXPECT_EQ(sig.size(), 256u);
  EXPECT_TRUE(Verifies((dir / "pubkey.pem").string(), message, sig));

  std::string traced;
  for (const auto& e : std::filesystem::directory_iterator(trace)) traced += ReadFile(e.path());
  EXPECT_FALSE(traced.empty());
  EXPECT_EQ(traced.find("12345678"), std::string::npos);
  EXPECT_EQ(traced.find("31 32 33 34 35 36 37 38"), std::string::npos);
}

TEST(VexaDemoProgram, BadUsageAndNoPin) {
  EXPECT_EQ(Shell("'" VEXADEMO_PROGRAM "' --out /tmp 2>/dev/null").first, 2);
  EXPECT_EQ(Shell("'" VEXADEMO_PROGRAM "' --out /tmp --message /nonexistent --remove-cmd true 2>/dev/null").first, 2);
  // No PIN on standard input: refused before any card work.
  EXPECT_EQ(Shell("'" VEXADEMO_PROGRAM "' --out /tmp --message /etc/hostname </dev/null 2>/dev/null").first, 1);
}

}  // namespace
