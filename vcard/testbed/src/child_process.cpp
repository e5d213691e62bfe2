#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace vexa::testbed {
namespace {

// Writes the decimal digits of value at out (no allocation: used after fork).
void FormatPid(char* out, long value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 23);
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
}

std::vector<std::string> BuildEnvironment(const std::vector<std::string>& extra, bool socketActivation) {
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    const std::string name = nameOf(entry);
    if (name == "LISTEN_FDS" || name == "LISTEN_PID" || name == "LISTEN_FDNAMES") continue;
    bool replaced = false;
    for (const auto& x : extra) replaced = replaced || nameOf(x) == name;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  if (socketActivation) env.push_back("LISTEN_FDS=1");
  return env;
}

}  // namespace

ChildProcess::ChildProcess(const SpawnSpec& spec) {
  if (spec.argv.empty()) throw std::invalid_argument("no program to start");
  // Everything the child needs is prepared here: after fork only
  // async-signal-safe calls are made.
  std::vector<std::string> env = BuildEnvironment(spec.extraEnv, spec.listenFd >= 0);
  std::string listenPid = "LISTEN_PID=" + std::string(24, '\0');
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  if (spec.listenFd >= 0) envp.push_back(listenPid.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = spec.argv;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int out = ::open(spec.outputPath.empty() ? "/dev/null" : spec.outputPath.c_str(),
                         O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (out < 0) throw std::runtime_error("cannot open " + spec.outputPath + ": " + std::strerror(errno));
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(out);
    if (in >= 0) ::close(in);
    throw std::runtime_error(std::string("fork: ") + std::strerror(err));
  }
  if (pid == 0) {
    // The child ends when the thread that started it ends (a test that dies
    // leaves no daemon behind).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    if (in >= 0) ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (spec.listenFd >= 0) {
      if (spec.listenFd == 3) {
        ::fcntl(3, F_SETFD, 0);
      } else {
        ::dup2(spec.listenFd, 3);
      }
      FormatPid(envp[envp.size() - 2] + std::strlen("LISTEN_PID="), static_cast<long>(::getpid()));
    }
    ::syscall(SYS_close_range, spec.listenFd >= 0 ? 4u : 3u, ~0u, 0u);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out);
  if (in >= 0) ::close(in);
  m_pid = pid;
}

ChildProcess::~ChildProcess() { Stop(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_status(other.m_status) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Stop();
    m_pid = std::exchange(other.m_pid, -1);
    m_status = other.m_status;
  }
  return *this;
}

bool ChildProcess::Running() {
  if (m_pid <= 0) return false;
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(m_pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == 0) return true;
  if (r == m_pid) m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  m_pid = -1;  // ended (or not our child any more)
  return false;
}

bool ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  if (!Running()) return true;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // A pidfd becomes readable when the process ends: no polling loop needed.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
  while (Running()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    } else {
      ::poll(nullptr, 0, static_cast<int>(std::min<long>(left.count(), 10)));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return !Running();
}

void ChildProcess::Stop(std::chrono::milliseconds grace) noexcept {
  if (!Running()) return;
  ::kill(m_pid, SIGTERM);
  if (WaitExit(grace)) return;
  ::kill(m_pid, SIGKILL);
  WaitExit(std::chrono::milliseconds(5000));
}

}  // namespace vexa::testbed
