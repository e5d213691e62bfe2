// The socket side of the virtual card: the stop signals, connecting to the
// reader driver, and the receive/answer loop.
#pragma once

#include <string>

#include "vexa/vcard/reader/card_session.h"

namespace vexa::vcard::reader {

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept;
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

// SIGTERM, SIGINT and SIGHUP, blocked and delivered through a signalfd, so the
// loops can wait for the socket and for a stop request in one poll(2).
// Throws std::runtime_error when the signalfd cannot be made.
UniqueFd BlockStopSignals();

enum class ConnectResult { kConnected, kStopped, kTimedOut, kError };

// Connects to 127.0.0.1:port, retrying every 50 ms while nothing listens, until
// timeoutSeconds have passed or a stop signal arrives. On success sock holds
// the connection (TCP_NODELAY set).
ConnectResult ConnectToDriver(int port, double timeoutSeconds, int stopFd, UniqueFd& sock,
                              std::string& error);

enum class ServeEnd { kStopped, kPeerClosed, kMalformed, kSocketError, kPulled };

// Answers frames until the peer closes, a stop signal arrives, a frame is
// malformed or the socket fails (reason says which). Sets TCP_QUICKACK before
// every receive: the driver sends the length and the payload in two writes, and
// without quick ACKs each command would wait for the delayed ACK (about 40 ms).
ServeEnd ServeConnection(int sock, int stopFd, CardSession& session, std::string& reason);

}  // namespace vexa::vcard::reader
