#include "vexa/vcard/reader/apdu_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace vexa::vcard::reader {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& out, const Bytes& bytes) {
  for (uint8_t b : bytes) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<Bytes> ParseHex(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = HexValue(text[i]);
    const int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>((hi << 4) | lo));
  }
  return out;
}

}  // namespace

std::string FormatExchangeLine(const Bytes& command, const Bytes& response) {
  std::string line;
  line.reserve(2 * (command.size() + response.size()) + 2);
  AppendHex(line, command);
  line.push_back(' ');
  AppendHex(line, response);
  line.push_back('\n');
  return line;
}

std::optional<LoggedExchange> ParseExchangeLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return std::nullopt;
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  auto command = ParseHex(line.substr(0, space));
  auto response = ParseHex(line.substr(space + 1));
  if (!command || !response || response->size() < 2) return std::nullopt;
  return LoggedExchange{std::move(*command), std::move(*response)};
}

std::vector<LoggedExchange> ParseApduLog(std::string_view text) {
  std::vector<LoggedExchange> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // a line still being written
    if (auto exchange = ParseExchangeLine(text.substr(pos, end - pos))) {
      out.push_back(std::move(*exchange));
    }
    pos = end + 1;
  }
  return out;
}

ApduLogWriter::ApduLogWriter(const std::string& path) {
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (m_fd < 0) {
    throw std::runtime_error("cannot open the APDU log " + path + ": " + std::strerror(errno));
  }
}

ApduLogWriter::~ApduLogWriter() {
  if (m_fd >= 0) ::close(m_fd);
}

ApduLogWriter::ApduLogWriter(ApduLogWriter&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_reportedError(other.m_reportedError) {}

ApduLogWriter& ApduLogWriter::operator=(ApduLogWriter&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
    m_reportedError = other.m_reportedError;
  }
  return *this;
}

void ApduLogWriter::Exchange(const Bytes& command, const Bytes& response) {
  if (m_fd >= 0) WriteLine(FormatExchangeLine(command, response));
}

void ApduLogWriter::Note(std::string_view text) {
  if (m_fd < 0) return;
  std::string line = "# ";
  for (char c : text) line.push_back(c == '\n' ? ' ' : c);
  line.push_back('\n');
  WriteLine(line);
}

void ApduLogWriter::WriteLine(const std::string& line) {
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // The card keeps answering without its log; say so once.
      if (!m_reportedError) {
        std::cerr << "vexa-vcard: cannot write the APDU log: " << std::strerror(errno) << "\n";
        m_reportedError = true;
      }
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace vexa::vcard::reader
