// Parses arbitrary text as an APDU log; every exchange found must format back
// to a line that parses to the same exchange.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vexa/vcard/reader/apdu_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexa::vcard::reader;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& e : ParseApduLog(text)) {
    auto again = ParseExchangeLine(FormatExchangeLine(e.command, e.response));
    if (!again || !(*again == e)) __builtin_trap();
  }
  return 0;
}
