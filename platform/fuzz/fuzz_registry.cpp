// Fuzz target for the registry file parser: no input may crash it, and whatever
// it accepts must read back the same after being written out again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vexa/platform/registry.h"

static void Check(bool ok) {
  if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vexa::RegDocument doc;
  vexa::RegParseError err;
  if (!doc.Parse(text, "fuzz.reg", err)) {
    Check(!err.message.empty());
    return 0;
  }
  // Rewrite the first value of the first key and check that every key keeps its
  // values through a write-out and a second parse.
  vexa::RegDocument again;
  const std::string key = "HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10";
  if (doc.HasKey(key)) {
    vexa::RegValue v{"Fuzz", REG_BINARY, {data, data + (size < 64 ? size : 64)}};
    Check(doc.Set(key, v));
  }
  Check(again.Parse(doc.Text(), "fuzz.reg", err));
  Check(again.Text() == doc.Text());
  if (doc.HasKey(key)) {
    auto a = doc.Values(key), b = again.Values(key);
    Check(a.size() == b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
      Check(a[i].name == b[i].name && a[i].type == b[i].type && a[i].data == b[i].data);
  }
  return 0;
}
