// Fuzz target: the parser of the card's public-key template never reads past
// its input and either gives a key or an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "pubkey_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto r = vexademo::ParsePublicKeyTemplate({data, size});
  if (r.key.has_value() == !r.error.empty()) std::abort();
  if (r.key && (r.key->modulus.empty() || r.key->exponent.empty())) std::abort();
  return 0;
}
