#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "pcsc_wait.h"
#include "reader_config.h"
#include "testbed_impl.h"

namespace fs = std::filesystem;

namespace vexa::testbed {
namespace {

std::atomic<bool> g_processHasBed{false};

std::string FindPcscd() {
  if (const char* env = std::getenv("VEXA_PCSCD"); env && *env) return env;
  std::vector<std::string> dirs = {"/usr/sbin", "/sbin", "/usr/local/sbin"};
  if (const char* path = std::getenv("PATH")) {
    std::string p = path;
    for (std::size_t start = 0; start <= p.size();) {
      const std::size_t end = std::min(p.find(':', start), p.size());
      if (end > start) dirs.push_back(p.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const auto& d : dirs) {
    const std::string candidate = d + "/pcscd";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw std::runtime_error("pcscd is not installed (Debian package pcscd)");
}

// The Unix socket pcscd serves on, bound here and handed over as fd 3. One
// path per process: the PC/SC client library keeps the first path it used.
std::string ProcessSocketPath() { return "/tmp/vexa-pcscd-" + std::to_string(::getpid()) + ".comm"; }

int BindSocket(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long: " + path);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::chmod(path.c_str(), 0600) != 0 ||
      ::listen(fd, 64) != 0) {
    const int err = errno;
    ::close(fd);
    throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(err));
  }
  return fd;
}

// Removes what test programs that died without their destructors left in
// /tmp (folders "vexa-testbed-<pid>-*" and sockets "vexa-pcscd-<pid>.comm" of
// processes that no longer exist), so crashed runs do not pile up.
void RemoveLeftovers() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/tmp", ec)) {
    const std::string name = entry.path().filename().string();
    std::string pidText;
    if (name.rfind("vexa-testbed-", 0) == 0 && name.find("ports") == std::string::npos) {
      pidText = name.substr(13, name.find('-', 13) - 13);
    } else if (name.rfind("vexa-pcscd-", 0) == 0) {
      pidText = name.substr(11, name.find('.', 11) - 11);
    } else {
      continue;
    }
    if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    const long pid = std::strtol(pidText.c_str(), nullptr, 10);
    struct stat st {};
    if (pid <= 0 || ::lstat(entry.path().c_str(), &st) != 0 || st.st_uid != ::getuid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still running
    fs::remove_all(entry.path(), ec);
  }
}

}  // namespace

ProcessBedGuard::ProcessBedGuard() {
  if (g_processHasBed.exchange(true)) {
    throw std::logic_error(
        "this process already has a PcscTestbed: the PC/SC client library talks to one pcscd per process");
  }
}

ProcessBedGuard::~ProcessBedGuard() { g_processHasBed = false; }

std::string TailOfFile(const std::string& path, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(no output)";
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.size() > maxBytes) text = "..." + text.substr(text.size() - maxBytes);
  return text.empty() ? "(no output)" : text;
}

PcscTestbed::Impl::Impl(int entries) {
  try {
    Start(entries);
  } catch (...) {
    pcscd.Stop();
    if (!socketPath.empty()) ::unlink(socketPath.c_str());
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
    throw;
  }
}

void PcscTestbed::Impl::Start(int entries) {
  RemoveLeftovers();
  std::string tmpl = "/tmp/vexa-testbed-" + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  dir = tmpl;

  ports.emplace(entries);
  std::vector<ReaderEntry> config;
  for (int k = 0; k < entries; ++k) {
    const ReaderEntry e{EntryName(k), ports->BasePorts()[static_cast<std::size_t>(k)]};
    config.push_back(e);
    for (int slot = 0; slot < 2; ++slot) {
      const std::string name = e.name + " 00 0" + std::to_string(slot);
      readerNames.push_back(name);
      readerPorts[name] = e.port + slot;
    }
  }
  const std::string confDir = dir + "/reader.conf.d";
  WriteReaderConfig(confDir, dir + "/drivers", config);

  // pcscd writes its pid file there (and fails to start without the folder).
  if (::mkdir("/run/pcscd", 0755) != 0 && errno != EEXIST) {
    // Not fatal: pcscd only complains that it cannot write the pid file.
  }
  socketPath = ProcessSocketPath();
  const int listenFd = BindSocket(socketPath);
  ::setenv("PCSCLITE_CSOCK_NAME", socketPath.c_str(), 1);
  try {
    SpawnSpec spec;
    spec.argv = {FindPcscd(), "--foreground", "--config", confDir};
    spec.outputPath = dir + "/pcscd.log";
    spec.listenFd = listenFd;
    pcscd = ChildProcess(spec);
  } catch (...) {
    ::close(listenFd);
    throw;
  }
  // Only pcscd holds the socket now: if it dies, clients get an error at once
  // instead of waiting in the backlog of a socket nobody serves.
  ::close(listenFd);
  WaitUntilReady();
}

void PcscTestbed::Impl::WaitUntilReady() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kEventLimit;
  // pcscd opens every configured reader before it serves its first client, so
  // once a context is established the list is final: a reader still missing
  // a moment later could not open its port.
  std::optional<Clock::time_point> servedAt;
  PcscContext ctx;
  std::vector<std::string> listed;
  while (Clock::now() < deadline) {
    if (!pcscd.Running()) {
      throw std::runtime_error("pcscd ended at start (status " + std::to_string(pcscd.ExitStatus()) +
                               "):\n" + DaemonOutput());
    }
    if (ctx.Valid() || ctx.Establish() == SCARD_S_SUCCESS) {
      if (!servedAt) servedAt = Clock::now();
      listed = ListReaders(ctx.Get());
      bool all = true;
      for (const auto& name : readerNames) {
        all = all && std::find(listed.begin(), listed.end(), name) != listed.end();
      }
      if (all) return;
      if (Clock::now() - *servedAt > std::chrono::seconds(1)) break;
    }
    // Bounded pause between two looks (pcscd is still starting).
    ::usleep(20000);
  }
  std::string seen;
  for (const auto& n : listed) seen += " \"" + n + "\"";
  throw ReadersMissing("pcscd did not list every virtual reader (listed:" + seen + "):\n" + DaemonOutput());
}

PcscTestbed::Impl::~Impl() {
  pcscd.Stop();
  ::unlink(socketPath.c_str());
  std::error_code ec;
  fs::remove_all(dir, ec);
}

std::string PcscTestbed::Impl::DaemonOutput() const { return TailOfFile(dir + "/pcscd.log"); }

PcscTestbed::PcscTestbed(int entries) {
  if (entries < 1 || entries > 8) {
    throw std::invalid_argument("a test bed has 1 to 8 reader entries (pcscd serves at most 16 readers)");
  }
  // A port can be taken by a program outside the reservation between the
  // check and pcscd's bind: then try again on other ports.
  for (int attempt = 1;; ++attempt) {
    try {
      m_impl = std::make_unique<Impl>(entries);
      return;
    } catch (const ReadersMissing&) {
      if (attempt == 3) throw;
    }
  }
}

PcscTestbed::~PcscTestbed() = default;

const std::string& PcscTestbed::SocketPath() const { return m_impl->socketPath; }

std::vector<std::string> PcscTestbed::ReaderNames() const { return m_impl->readerNames; }

int PcscTestbed::Port(const std::string& reader) const {
  auto it = m_impl->readerPorts.find(reader);
  if (it == m_impl->readerPorts.end()) throw std::out_of_range("no virtual reader named \"" + reader + "\"");
  return it->second;
}

const std::string& PcscTestbed::Dir() const { return m_impl->dir; }

int PcscTestbed::DaemonPid() const { return m_impl->pcscd.Pid(); }

}  // namespace vexa::testbed
