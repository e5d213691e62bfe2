// A fresh virtual card in a temporary folder for each test, and helpers to send
// commands written as hexadecimal text.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "vexa/vcard/card_os.h"
#include "vexa/vcard/perso.h"

namespace vexa::vcard::test {

Bytes H(const std::string& hex);  // "00 A4 04 00" -> bytes (spaces allowed)
std::string Hs(const Bytes& b);   // bytes -> "00A40400"
uint16_t Sw(const Bytes& response);
Bytes Data(const Bytes& response);  // without the status word
std::string Rep(const std::string& hexByte, size_t n);  // Rep("FF", 3) -> "FFFFFF"

// Test-side cryptography, step by step over OpenSSL's 3DES block cipher (not
// the simulator's code): 3DES-EDE CBC with a zero IV (key of 24 bytes), and the
// ISO/IEC 9797-1 MAC algorithm 3 with K1 K2 K1 (DES-CBC under K1, last block
// under 3DES) over data already padded.
Bytes TestEcb3(const Bytes& key24, const Bytes& block8);
Bytes TestCbc3(const Bytes& key24, const Bytes& data);
Bytes TestMac3(const Bytes& k1k2, const Bytes& data);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class CardTest : public ::testing::Test {
 protected:
  // Creates the image with the options and opens it powered on.
  void MakeCard(const PersoOptions& o = PersoOptions{});
  void Reopen();  // a new simulator over the same image (card reinserted)
  Bytes Tx(const std::string& hex) { return card_->Process(H(hex)); }
  Bytes Tx(const Bytes& apdu) { return card_->Process(apdu); }
  uint16_t SwOf(const std::string& hex) { return Sw(Tx(hex)); }
  // Selects the application DF by name (default AID).
  void SelectApp();
  // Moves the card into the administration phase (life cycle 20).
  void AdminPhase();
  void VerifyUser(const std::string& pin = "12345678");

  TempDir dir_;
  std::string image_;
  PersoOptions opts_;
  std::unique_ptr<ICardOs> card_;
  bool ver_m3_ = false;
};

}  // namespace vexa::vcard::test
