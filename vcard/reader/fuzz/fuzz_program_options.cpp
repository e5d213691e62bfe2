// Parses arbitrary command lines (arguments separated by NUL bytes): the
// parser either gives options within their ranges or an error, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vexa/vcard/reader/program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  std::string error;
  auto options = vexa::vcard::reader::ParseProgramOptions(args, error);
  if (options) {
    if (options->port < 1 || options->port > 65535 || options->imagePath.empty()) __builtin_trap();
    if (!(options->connectTimeoutSeconds >= 0 && options->connectTimeoutSeconds <= 3600)) __builtin_trap();
  } else if (error.empty()) {
    __builtin_trap();
  }
  return 0;
}
