#include "demo_report.h"

#include <cstdio>

namespace vexademo {

void Heading(const std::string& title) {
  std::printf("\n== %s\n", title.c_str());
  std::fflush(stdout);
}

void Line(const std::string& text) {
  std::printf("   %s\n", text.c_str());
  std::fflush(stdout);
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  char b[4];
  for (uint8_t x : bytes) {
    std::snprintf(b, sizeof b, s.empty() ? "%02X" : " %02X", x);
    s += b;
  }
  return s;
}

std::string Hex16(long value) {
  char b[24];
  if (value < 0) std::snprintf(b, sizeof b, "-%lX", static_cast<unsigned long>(-value));
  else std::snprintf(b, sizeof b, "%04lX", static_cast<unsigned long>(value));
  return b;
}

}  // namespace vexademo
