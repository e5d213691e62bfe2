#include "vexa/platform/secure.h"

#include <openssl/crypto.h>

namespace vexa {

void SecureWipe(void* p, std::size_t n) noexcept {
  if (p != nullptr && n != 0) OPENSSL_cleanse(p, n);
}

}  // namespace vexa
