// What the demo prints: section headings, indented result lines, hex bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vexademo {

void Heading(const std::string& title);                 // "== title"
void Line(const std::string& text);                     // "   text"
std::string Hex(std::span<const uint8_t> bytes);       // "3B F2 98 ..."
std::string Hex16(long value);                          // "63C2"

}  // namespace vexademo
