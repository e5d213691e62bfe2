// Feeds arbitrary text to the card image reader: it must either refuse it with
// std::runtime_error or accept it, and an accepted image must read back the same
// after writing it out again.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "image_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexa::vcard;
  const std::string text(reinterpret_cast<const char*>(data), size);
  CardState st;
  try {
    st = ParseImage(text);
  } catch (const std::runtime_error&) {
    return 0;
  }
  const std::string once = SerializeImage(st);
  CardState again = ParseImage(once);  // must not throw
  if (SerializeImage(again) != once) abort();
  return 0;
}
