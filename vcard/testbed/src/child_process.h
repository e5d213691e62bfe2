// Child processes of the test bed (pcscd, the card programs): started with
// fork/exec so that the parent-death signal and an inherited listening socket
// can be set up, and stopped by their pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vexa::testbed {

struct SpawnSpec {
  std::vector<std::string> argv;       // argv[0] is the program's path
  std::vector<std::string> extraEnv;   // "NAME=value" added to (or replacing in) the environment
  std::string outputPath;              // stdout and stderr are appended here
  int listenFd = -1;                   // passed as fd 3 with LISTEN_FDS=1 and LISTEN_PID set
};

class ChildProcess {
 public:
  ChildProcess() = default;
  // Throws std::runtime_error when the process cannot be started.
  explicit ChildProcess(const SpawnSpec& spec);
  ~ChildProcess();  // stops the process if it still runs
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  // True while the process has not ended (reaps it when it has).
  bool Running();
  // Waits up to limit for the end; true when it ended.
  bool WaitExit(std::chrono::milliseconds limit);
  // SIGTERM, wait up to grace, then SIGKILL as a last resort. Never throws.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(10000)) noexcept;
  // The exit status once ended: the exit code, or 128 + signal number.
  int ExitStatus() const { return m_status; }

 private:
  pid_t m_pid = -1;
  int m_status = -1;
};

}  // namespace vexa::testbed
