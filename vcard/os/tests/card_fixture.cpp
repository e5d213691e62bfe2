#include "card_fixture.h"

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

uint16_t Sw(const Bytes& r) {
  if (r.size() < 2) return 0;
  return static_cast<uint16_t>(r[r.size() - 2] << 8 | r[r.size() - 1]);
}

Bytes Data(const Bytes& r) { return r.size() < 2 ? Bytes{} : Bytes(r.begin(), r.end() - 2); }

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
