#include "fake_card_os.h"

#include <fstream>
#include <stdexcept>
#include <string>

namespace vexa::vcard {
namespace testing {
namespace {

Bytes FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd number of hex digits: " + hex);
  Bytes out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

}  // namespace

Bytes FakeCardOs::DefaultAtr() { return FromHex("3B8880010000000000000000F0"); }
Bytes FakeCardOs::DefaultAid() { return FromHex("A000000001020304"); }

Bytes FakeCardOs::Process(const Bytes& apdu) {
  if (apdu.size() < 4) return {0x67, 0x00};
  const uint8_t cla = apdu[0], ins = apdu[1], p1 = apdu[2];
  const std::size_t lc = apdu.size() > 5 ? apdu[4] : 0;
  const bool dataFits = apdu.size() >= 5 + lc;
  if (cla == 0x00 && ins == 0xA4 && p1 == 0x04) {
    if (!dataFits || lc == 0) return {0x67, 0x00};
    Bytes name(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    if (name == m_aid) return {0x6F, 0x03, 0x84, 0x01, 0x01, 0x90, 0x00};
    return {0x6A, 0x82};
  }
  if (cla == 0x80 && ins == 0x01) {
    if (!dataFits) return {0x67, 0x00};
    Bytes out(apdu.begin() + 5, apdu.begin() + 5 + static_cast<std::ptrdiff_t>(lc));
    out.push_back(0x90);
    out.push_back(0x00);
    return out;
  }
  if (cla == 0x80 && ins == 0x02) {
    std::size_t n = apdu.size() == 5 ? apdu[4] : 0;
    if (n == 0) n = 256;
    Bytes out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(i));
    out.push_back(0x90);
    out.push_back(0x00);
    return out;
  }
  if (cla == 0x80 && ins == 0xEE) throw std::runtime_error("simulated card OS failure");
  if (cla == 0x80 && ins == 0xEF) return {0x90};
  return {0x6D, 0x00};
}

}  // namespace testing

std::unique_ptr<ICardOs> OpenCardImage(const std::string& imagePath) {
  std::ifstream in(imagePath);
  if (!in) throw std::runtime_error("cannot read " + imagePath);
  Bytes atr = testing::FakeCardOs::DefaultAtr();
  Bytes aid = testing::FakeCardOs::DefaultAid();
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) throw std::runtime_error("not key=value: " + line);
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "atr") {
      atr = testing::FromHex(value);
    } else if (key == "aid") {
      aid = testing::FromHex(value);
    } else {
      throw std::runtime_error("unknown key " + key);
    }
  }
  return std::make_unique<testing::FakeCardOs>(std::move(atr), std::move(aid));
}

}  // namespace vexa::vcard
