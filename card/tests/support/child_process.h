// A program started by a test, with its standard input and output on pipes.
// Closing its input asks it to end; the destructor waits for it (and kills it
// by its pid when it does not end within a few seconds).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexa::card::test {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of its output (without the line end); "" at its end or when
  // nothing arrives within timeoutMs.
  std::string ReadLine(int timeoutMs = 15000);
  // Closes its input and waits for its end; its exit status.
  int Finish();

 private:
  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  std::string m_buf;
  int m_status = -1;
};

}  // namespace vexa::card::test
