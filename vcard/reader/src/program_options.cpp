#include <charconv>
#include <cmath>

#include "vexa/vcard/reader/program.h"

namespace vexa::vcard::reader {

std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args,
                                                  std::string& error) {
  ProgramOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (i + 1 >= args.size()) {
      error = "missing value after " + name;
      return std::nullopt;
    }
    const std::string& value = args[++i];
    if (name == "--port") {
      int port = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc() || end != value.data() + value.size() || port < 1 || port > 65535) {
        error = "not a TCP port: " + value;
        return std::nullopt;
      }
      options.port = port;
    } else if (name == "--image") {
      options.imagePath = value;
    } else if (name == "--log") {
      options.logPath = value;
    } else if (name == "--connect-timeout") {
      double seconds = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (ec != std::errc() || end != value.data() + value.size() || !std::isfinite(seconds) ||
          seconds < 0 || seconds > 3600) {
        error = "not a time limit in seconds (0 to 3600): " + value;
        return std::nullopt;
      }
      options.connectTimeoutSeconds = seconds;
    } else if (name == "--pull-on-ins") {
      unsigned ins = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), ins, 16);
      if (value.empty() || value.size() > 2 || ec != std::errc() || end != value.data() + value.size()) {
        error = "not an instruction byte in hex: " + value;
        return std::nullopt;
      }
      options.pullOnIns = static_cast<uint8_t>(ins);
    } else {
      error = "unknown option " + name;
      return std::nullopt;
    }
  }
  if (options.port == 0) {
    error = "--port is required";
    return std::nullopt;
  }
  if (options.imagePath.empty()) {
    error = "--image is required";
    return std::nullopt;
  }
  return options;
}

}  // namespace vexa::vcard::reader
