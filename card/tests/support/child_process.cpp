#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vexa::card::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const int rc = posix_spawn(&m_pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  m_in = in[1];
  m_out = out[0];
  if (rc != 0) {
    close(m_in);
    close(m_out);
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() { Finish(); }

std::string ChildProcess::ReadLine(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const std::size_t nl = m_buf.find('\n');
    if (nl != std::string::npos) {
      std::string line = m_buf.substr(0, nl);
      m_buf.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || m_out < 0) return {};
    pollfd p{m_out, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
    char buf[256];
    const ssize_t n = read(m_out, buf, sizeof buf);
    if (n <= 0) return {};
    m_buf.append(buf, static_cast<std::size_t>(n));
  }
}

int ChildProcess::Finish() {
  if (m_pid < 0) return m_status;
  if (m_in >= 0) close(m_in);
  m_in = -1;
  int status = 0;
  for (int i = 0; i < 500; ++i) {
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    m_pid = -1;
  }
  if (m_out >= 0) close(m_out);
  m_out = -1;
  m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m_status;
}

}  // namespace vexa::card::test
