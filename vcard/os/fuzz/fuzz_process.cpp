// Feeds arbitrary command sequences to a fresh virtual card: the card must
// answer every command with at least a status word and never crash.
// Input: records of a 2-byte big-endian length and that many command bytes; a
// zero length powers the card off and on.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "vexa/vcard/card_os.h"
#include "vexa/vcard/perso.h"

namespace {

std::string& Folder() {
  static std::string dir;
  return dir;
}

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(Folder(), ec);
}

std::string ImagePath() {
  static std::string path = [] {
    char tmpl[] = "/tmp/vcardos-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) abort();
    Folder() = tmpl;
    std::atexit(RemoveFolder);
    return std::string(tmpl) + "/card.img";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexa::vcard;
  static const PersoOptions options = [] {
    PersoOptions o;
    o.directorySize = 512;
    return o;
  }();
  CreateCardImage(ImagePath(), options);
  auto card = OpenCardImage(ImagePath());
  card->PowerOn();
  size_t i = 0;
  int commands = 0;
  while (i + 2 <= size && commands < 64) {
    const size_t n = static_cast<size_t>(data[i]) << 8 | data[i + 1];
    i += 2;
    if (n == 0) {
      card->PowerOff();
      card->PowerOn();
      continue;
    }
    if (n > size - i) break;
    Bytes apdu(data + i, data + i + n);
    i += n;
    ++commands;
    Bytes r = card->Process(apdu);
    if (r.size() < 2) abort();
  }
  return 0;
}
