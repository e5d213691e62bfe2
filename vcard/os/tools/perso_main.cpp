// vexa-vcard-perso: writes a fresh virtual card image.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "hex.h"
#include "vexa/vcard/perso.h"

namespace {

void Usage() {
  std::fputs(
      "usage: vexa-vcard-perso [options] IMAGE\n"
      "  --version V        card OS: M3 M4.0 M4.01 M4.01a M4.10 M4.20 M4.2b M4.2b-0A M4.40 (default M4.10)\n"
      "  --atr-profile P    Velmoranta (M4.01, M4.01a), VEZ or VEZ2 (M4.20)\n"
      "  --atr HEX          answer to reset\n"
      "  --aid HEX          DF name of the application\n"
      "  --app-fid HEX      file identifier of the application DF (default 5000)\n"
      "  --dir-fid HEX      file identifier of the directory file (default 0001)\n"
      "  --dir-size N       size of the directory file (default 8192)\n"
      "  --dir-content FILE initial directory bytes\n"
      "  --pin TEXT         user PIN (reference 10, default 12345678)\n"
      "  --puk TEXT         PUK (reference 12, default 87654321)\n"
      "  --pin-tries N      tries of the user PIN and the PUK (default 3)\n"
      "  --pin-sm           PIN commands only under secure messaging\n"
      "  --no-pins          no PIN objects\n"
      "  --serial HEX       six bytes of card serial number\n"
      "  --life-cycle HEX   life-cycle byte (default 10)\n"
      "  --memory KB        card memory in kilobytes (default 64)\n"
      "  --package ID:VER   installed code package (hexadecimal), repeatable\n",
      stderr);
}

vexa::vcard::Bytes Hex(const char* s, const char* what) {
  auto b = vexa::vcard::FromHex(s, true);
  if (!b) throw std::invalid_argument(std::string("bad hexadecimal for ") + what);
  return *b;
}

unsigned long Num(const char* s, int base, unsigned long max, const char* what) {
  char* end = nullptr;
  unsigned long v = std::strtoul(s, &end, base);
  if (!*s || *end || v > max) throw std::invalid_argument(std::string("bad value for ") + what);
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    vexa::vcard::PersoOptions o;
    std::string image;
    for (int i = 1; i < argc; ++i) {
      std::string a = argv[i];
      auto next = [&]() -> const char* {
        if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
        return argv[++i];
      };
      if (a == "--version") o.version = next();
      else if (a == "--atr-profile") o.atrProfile = next();
      else if (a == "--atr") o.atr = Hex(next(), "--atr");
      else if (a == "--aid") o.aid = Hex(next(), "--aid");
      else if (a == "--app-fid") o.appFid = static_cast<uint16_t>(Num(next(), 16, 0xFFFF, "--app-fid"));
      else if (a == "--dir-fid") o.directoryFid = static_cast<uint16_t>(Num(next(), 16, 0xFFFF, "--dir-fid"));
      else if (a == "--dir-size") o.directorySize = static_cast<uint16_t>(Num(next(), 10, 0xFFFF, "--dir-size"));
      else if (a == "--dir-content") {
        const char* f = next();
        std::ifstream in(f, std::ios::binary);
        if (!in) throw std::runtime_error(std::string("cannot read ") + f);
        o.directoryContent.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      } else if (a == "--pin") o.userPin.value = next();
      else if (a == "--puk") o.puk.value = next();
      else if (a == "--pin-tries") {
        auto n = static_cast<uint8_t>(Num(next(), 10, 15, "--pin-tries"));
        o.userPin.maxTries = o.puk.maxTries = n;
      } else if (a == "--pin-sm") o.userPin.smRequired = o.puk.smRequired = true;
      else if (a == "--no-pins") o.withPins = false;
      else if (a == "--serial") o.serial = Hex(next(), "--serial");
      else if (a == "--life-cycle") o.lifeCycle = static_cast<uint8_t>(Num(next(), 16, 0xFF, "--life-cycle"));
      else if (a == "--memory") o.memoryKb = static_cast<uint16_t>(Num(next(), 10, 0xFFFF, "--memory"));
      else if (a == "--package") {
        std::string v = next();
        auto colon = v.find(':');
        if (colon == std::string::npos) throw std::invalid_argument("--package needs ID:VERSION");
        o.packages.push_back({static_cast<uint8_t>(Num(v.substr(0, colon).c_str(), 16, 0xFF, "--package")),
                              static_cast<uint8_t>(Num(v.substr(colon + 1).c_str(), 16, 0xFF, "--package"))});
      } else if (a == "-h" || a == "--help") {
        Usage();
        return 0;
      } else if (!a.empty() && a[0] == '-') {
        throw std::invalid_argument("unknown option " + a);
      } else if (image.empty()) {
        image = a;
      } else {
        throw std::invalid_argument("more than one image path");
      }
    }
    if (image.empty()) {
      Usage();
      return 2;
    }
    vexa::vcard::CreateCardImage(image, o);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexa-vcard-perso: %s\n", e.what());
    return 1;
  }
}
