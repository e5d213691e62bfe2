// Names of the kernel status codes, for trace lines.
#include <cstdio>

#include "vexa/kernel/status.h"

const char* KernelStatusName(int32_t status) noexcept {
  switch (status) {
    case 0: return "OK";
#define VEXA_KERNEL_STATUS_CASE(name, value) \
  case (value): return #name;
    VEXA_KERNEL_STATUS_LIST(VEXA_KERNEL_STATUS_CASE)
#undef VEXA_KERNEL_STATUS_CASE
    default: break;
  }
  // Other codes: a negated card status word or a PC/SC error. One buffer per
  // thread keeps the text valid until the thread's next call.
  thread_local char buf[32];
  const auto u = static_cast<uint32_t>(status);
  if (status < 0 && status >= -0xFFFF)
    std::snprintf(buf, sizeof buf, "SW_%04X", static_cast<unsigned>(-status));
  else if ((u & 0xFFFF0000u) == 0x80100000u)
    std::snprintf(buf, sizeof buf, "SCARD_0x%08X", static_cast<unsigned>(u));
  else
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(u));
  return buf;
}
