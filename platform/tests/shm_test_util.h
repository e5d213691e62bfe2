// Helpers for the tests of the shared-memory pieces: unique names, and running
// a piece of a test in a child process.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace vexa::test {

// A name no other test (or test run) uses at the same time.
inline std::string UniqueName(const std::string& base) {
  static std::atomic<int> counter{0};
  return base + " " + std::to_string(getpid()) + " " + std::to_string(++counter);
}

// Runs body in a forked child and returns its exit code (body's result), or
// -1 when the child did not end normally. The child leaves with _exit: it runs
// no destructor of the parent's objects.
inline int RunInChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    int rc = 99;
    try {
      rc = body();
    } catch (...) {
      rc = 98;
    }
    _exit(rc);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child started with StartChild, stopped and reaped by its pid (at the
// latest when this goes out of scope, e.g. after a failed assertion).
struct Child {
  pid_t pid = -1;
  int fromChild = -1;  // read end of a pipe the child writes one byte to when ready
  Child() = default;
  Child(Child&& o) noexcept : pid(o.pid), fromChild(o.fromChild) {
    o.pid = -1;
    o.fromChild = -1;
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();
};

// Starts body in a child that writes one byte to its pipe once body's setup is
// done (body calls ready()), then stays until killed.
inline Child StartChild(const std::function<void(const std::function<void()>& ready)>& body) {
  int fds[2];
  Child c;
  if (pipe(fds) != 0) return c;
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) return c;
  if (pid == 0) {
    // The child never outlives the test program.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(96);
    close(fds[0]);
    auto ready = [&] {
      char b = 1;
      if (write(fds[1], &b, 1) != 1) _exit(97);
    };
    try {
      body(ready);
    } catch (...) {
    }
    for (;;) pause();
  }
  close(fds[1]);
  c.pid = pid;
  c.fromChild = fds[0];
  return c;
}

// Waits (with a time limit) for the child's ready byte.
inline bool WaitReady(const Child& c, int timeoutMs = 10000) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(c.fromChild, &set);
  struct timeval tv {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(c.fromChild + 1, &set, nullptr, nullptr, &tv) != 1) return false;
  char b = 0;
  return read(c.fromChild, &b, 1) == 1 && b == 1;
}

inline void KillChild(Child& c) {
  if (c.pid > 0) {
    kill(c.pid, SIGKILL);
    int status;
    waitpid(c.pid, &status, 0);
    c.pid = -1;
  }
  if (c.fromChild >= 0) {
    close(c.fromChild);
    c.fromChild = -1;
  }
}

inline Child::~Child() { KillChild(*this); }

}  // namespace vexa::test
