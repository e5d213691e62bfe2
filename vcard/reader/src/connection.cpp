#include "connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace vexa::vcard::reader {

UniqueFd::~UniqueFd() {
  if (m_fd >= 0) ::close(m_fd);
}

UniqueFd::UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

UniqueFd BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    throw std::runtime_error(std::string("sigprocmask: ") + std::strerror(errno));
  }
  const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
  return UniqueFd(fd);
}

namespace {

// Waits up to timeoutMs for a stop signal; true when one arrived.
bool StopRequested(int stopFd, int timeoutMs) {
  pollfd p{stopFd, POLLIN, 0};
  while (true) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

bool SendAll(int sock, const Bytes& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(sock, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ConnectResult ConnectToDriver(int port, double timeoutSeconds, int stopFd, UniqueFd& sock,
                              std::string& error) {
  using Clock = std::chrono::steady_clock;
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  while (true) {
    if (StopRequested(stopFd, 0)) return ConnectResult::kStopped;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
      error = std::string("socket: ") + std::strerror(errno);
      return ConnectResult::kError;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
      const int one = 1;
      ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      sock = std::move(fd);
      return ConnectResult::kConnected;
    }
    const int err = errno;
    if (err != ECONNREFUSED && err != EINTR && err != ETIMEDOUT && err != ECONNRESET) {
      error = std::string("connect: ") + std::strerror(err);
      return ConnectResult::kError;
    }
    if (Clock::now() >= deadline) {
      error = "no reader driver listens on port " + std::to_string(port);
      return ConnectResult::kTimedOut;
    }
    // The driver is not listening yet (pcscd still starting): try again soon,
    // still answering a stop request at once.
    if (StopRequested(stopFd, 50)) return ConnectResult::kStopped;
  }
}

ServeEnd ServeConnection(int sock, int stopFd, CardSession& session, std::string& reason) {
  FrameDecoder decoder;
  Bytes buffer(16 * 1024);
  pollfd fds[2] = {{sock, POLLIN, 0}, {stopFd, POLLIN, 0}};
  while (true) {
    fds[0].revents = fds[1].revents = 0;
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      reason = std::string("poll: ") + std::strerror(errno);
      return ServeEnd::kSocketError;
    }
    if (fds[1].revents & POLLIN) {
      reason = "stop signal";
      return ServeEnd::kStopped;
    }
    if (fds[0].revents & POLLNVAL) {
      reason = "the socket is not open";
      return ServeEnd::kSocketError;
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    const ssize_t n = ::recv(sock, buffer.data(), buffer.size(), 0);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      reason = std::string("recv: ") + std::strerror(errno);
      return errno == ECONNRESET ? ServeEnd::kPeerClosed : ServeEnd::kSocketError;
    }
    if (n == 0) {
      reason = decoder.Pending() ? "the driver closed the connection inside a frame"
                                 : "the driver closed the connection";
      return ServeEnd::kPeerClosed;
    }
    decoder.Feed(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
    while (auto payload = decoder.Next()) {
      FrameResult result = session.HandlePayload(*payload);
      if (result.action == FrameResult::Action::kClose) {
        reason = result.reason;
        return ServeEnd::kMalformed;
      }
      if (result.action == FrameResult::Action::kPull) {
        reason = result.reason;
        return ServeEnd::kPulled;
      }
      if (result.action == FrameResult::Action::kReply) {
        auto frame = EncodeFrame(result.reply);
        if (!frame || !SendAll(sock, *frame)) {
          reason = std::string("send: ") + std::strerror(errno);
          return ServeEnd::kSocketError;
        }
      }
    }
  }
}

}  // namespace vexa::vcard::reader
