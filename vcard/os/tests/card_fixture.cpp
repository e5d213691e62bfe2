#include "card_fixture.h"

#include <openssl/evp.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace vexa::vcard::test {

Bytes H(const std::string& hex) {
  Bytes out;
  int hi = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ') continue;
    else throw std::invalid_argument("bad hex in test: " + hex);
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::invalid_argument("odd hex in test: " + hex);
  return out;
}

std::string Hs(const Bytes& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t x : b) {
    s.push_back(d[x >> 4]);
    s.push_back(d[x & 15]);
  }
  return s;
}

std::string Rep(const std::string& hexByte, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += hexByte;
  return s;
}

uint16_t Sw(const Bytes& r) {
  if (r.size() < 2) return 0;
  return static_cast<uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
}

Bytes Data(const Bytes& r) { return r.size() < 2 ? Bytes{} : Bytes(r.begin(), r.end() - 2); }

Bytes TestEcb3(const Bytes& key24, const Bytes& block) {
  EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
  Bytes out(16);
  int n = 0, m = 0;
  EVP_EncryptInit_ex(c, EVP_des_ede3_ecb(), nullptr, key24.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(c, 0);
  EVP_EncryptUpdate(c, out.data(), &n, block.data(), 8);
  EVP_EncryptFinal_ex(c, out.data() + n, &m);
  EVP_CIPHER_CTX_free(c);
  out.resize(8);
  return out;
}

Bytes TestCbc3(const Bytes& key24, const Bytes& data) {
  Bytes chain(8, 0), out;
  for (size_t i = 0; i < data.size(); i += 8) {
    Bytes x(8);
    for (size_t j = 0; j < 8; ++j) x[j] = chain[j] ^ data[i + j];
    chain = TestEcb3(key24, x);
    out.insert(out.end(), chain.begin(), chain.end());
  }
  return out;
}

Bytes TestMac3(const Bytes& k1k2, const Bytes& data) {
  Bytes k1(k1k2.begin(), k1k2.begin() + 8);
  Bytes single = k1;
  single.insert(single.end(), k1.begin(), k1.end());
  single.insert(single.end(), k1.begin(), k1.end());
  Bytes triple = k1k2;
  triple.insert(triple.end(), k1.begin(), k1.end());
  Bytes h(8, 0);
  for (size_t i = 0; i < data.size(); i += 8) {
    Bytes x(8);
    for (size_t j = 0; j < 8; ++j) x[j] = h[j] ^ data[i + j];
    h = TestEcb3(i + 8 < data.size() ? single : triple, x);
  }
  return h;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vcardos-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void CardTest::MakeCard(const PersoOptions& o) {
  opts_ = o;
  ver_m3_ = o.version == "M3";
  image_ = dir_.Path() + "/card.img";
  CreateCardImage(image_, o);
  Reopen();
}

void CardTest::Reopen() {
  card_.reset();
  card_ = OpenCardImage(image_);
  card_->PowerOn();
}

void CardTest::SelectApp() {
  Bytes apdu = H("00 A4 04 00");
  apdu.push_back(static_cast<uint8_t>(opts_.aid.size()));
  apdu.insert(apdu.end(), opts_.aid.begin(), opts_.aid.end());
  ASSERT_EQ(Sw(Tx(apdu)), 0x9000);
}

void CardTest::AdminPhase() {
  Bytes lc = Tx("00 CA 01 83 01");
  ASSERT_EQ(Sw(lc), 0x9000);
  if (lc[0] == 0x10) {
    ASSERT_EQ(SwOf(ver_m3_ ? "B0 10 00 00" : "80 10 00 00"), 0x9000);
  }
}

void CardTest::VerifyUser(const std::string& pin) {
  Bytes apdu = H("00 20 00 90");
  apdu.push_back(static_cast<uint8_t>(pin.size()));
  apdu.insert(apdu.end(), pin.begin(), pin.end());
  ASSERT_EQ(Sw(Tx(apdu)), 0x9000);
}

}  // namespace vexa::vcard::test
