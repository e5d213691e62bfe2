// The virtual card's APDU log: one line per command APDU, written and flushed
// before the response goes out, so a test that has just received a response
// finds its exchange in the file.
//
// This is the log of a test card, not of the product: the command data of
// VERIFY, CHANGE REFERENCE DATA and RESET RETRY COUNTER (PINs and PUKs of test
// cards) stands in it in clear, because tests check exactly those bytes. The
// product's own traces mask them.
//
// Line format (text, one exchange per line):
//   <command in hex> <response in hex>\n      e.g. "00A40000023F00 9000"
//   # <note>\n                                 power events and errors
// Hex digits are upper case; a response always holds at least SW1 SW2.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vexa/vcard/reader/wire.h"

namespace vexa::vcard::reader {

struct LoggedExchange {
  Bytes command;
  Bytes response;
  bool operator==(const LoggedExchange&) const = default;
};

// The log line (with its newline) for one exchange.
std::string FormatExchangeLine(const Bytes& command, const Bytes& response);

// The exchange on one line (without or with its newline). Nothing for a note,
// an empty line or a line that is not an exchange (odd or non-hex digits, a
// missing field, a response shorter than two bytes).
std::optional<LoggedExchange> ParseExchangeLine(std::string_view line);

// Every exchange of a log text, in order. Notes and malformed lines are
// skipped, and so is a last line without its newline (still being written).
std::vector<LoggedExchange> ParseApduLog(std::string_view text);

// Appends lines to a log file (created with mode 0600, never through a
// symbolic link). Each line goes out in one write(2), unbuffered.
class ApduLogWriter {
 public:
  ApduLogWriter() = default;  // logs nothing
  // Throws std::runtime_error when the file cannot be opened.
  explicit ApduLogWriter(const std::string& path);
  ~ApduLogWriter();
  ApduLogWriter(const ApduLogWriter&) = delete;
  ApduLogWriter& operator=(const ApduLogWriter&) = delete;
  ApduLogWriter(ApduLogWriter&& other) noexcept;
  ApduLogWriter& operator=(ApduLogWriter&& other) noexcept;

  void Exchange(const Bytes& command, const Bytes& response);
  void Note(std::string_view text);

 private:
  void WriteLine(const std::string& line);
  int m_fd = -1;
  bool m_reportedError = false;
};

}  // namespace vexa::vcard::reader
