#include "ports.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace vexa::testbed {
namespace {

// Below the kernel's ephemeral range (32768 and up), so an outgoing
// connection never holds one of these ports.
constexpr int kFirstPort = 20000;
constexpr int kLastPort = 32000;
constexpr char kLockDir[] = "/tmp/vexa-testbed-ports";

bool CanListenOn(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const int one = 1;
  // The driver sets SO_REUSEADDR too: a connection in TIME_WAIT does not block it.
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

PortReservation::PortReservation(int count) {
  if (::mkdir(kLockDir, 01777) != 0 && errno != EEXIST) {
    throw std::runtime_error(std::string("cannot create ") + kLockDir + ": " + std::strerror(errno));
  }
  ::chmod(kLockDir, 01777);  // shared by every user's test runs
  const int pairs = (kLastPort - kFirstPort) / 2;
  // Start somewhere different in each process, so that parallel test programs
  // rarely contend for the same lock files.
  const auto seed = static_cast<unsigned long>(::getpid()) * 7919ul +
                    static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count());
  const int start = static_cast<int>(seed % static_cast<unsigned long>(pairs));
  for (int i = 0; i < pairs && static_cast<int>(m_ports.size()) < count; ++i) {
    const int port = kFirstPort + 2 * ((start + i) % pairs);
    const std::string lock = std::string(kLockDir) + "/" + std::to_string(port);
    const int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) continue;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    if (!CanListenOn(port) || !CanListenOn(port + 1)) {
      ::close(fd);
      continue;
    }
    m_ports.push_back(port);
    m_lockFds.push_back(fd);
  }
  if (static_cast<int>(m_ports.size()) < count) {
    Release();
    throw std::runtime_error("no free TCP port pairs for the virtual readers");
  }
}

PortReservation::~PortReservation() { Release(); }

PortReservation::PortReservation(PortReservation&& o) noexcept
    : m_ports(std::move(o.m_ports)), m_lockFds(std::move(o.m_lockFds)) {
  o.m_lockFds.clear();
}

PortReservation& PortReservation::operator=(PortReservation&& o) noexcept {
  if (this != &o) {
    Release();
    m_ports = std::move(o.m_ports);
    m_lockFds = std::move(o.m_lockFds);
    o.m_lockFds.clear();
  }
  return *this;
}

void PortReservation::Release() noexcept {
  for (int fd : m_lockFds) ::close(fd);
  m_lockFds.clear();
  m_ports.clear();
}

}  // namespace vexa::testbed
