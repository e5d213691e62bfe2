// Fuzz target: see targets.h (RunFileObject).
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1u << 20) return 0;
  asn1fuzz::RunFileObject(size ? data : nullptr, static_cast<DWORD>(size));
  return 0;
}
