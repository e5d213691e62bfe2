// vexa-pcscd-exec SOCKET [pcscd arguments...]
//
// Binds the Unix socket SOCKET, puts it on fd 3 with LISTEN_FDS=1 and
// LISTEN_PID set to this process, and execs pcscd with the arguments (socket
// activation): pcscd then serves on SOCKET instead of its system socket, which
// it does not let a caller choose otherwise. Clients set PCSCLITE_CSOCK_NAME
// to SOCKET. The pid stays the same across the exec, so a caller that started
// this program in the background stops pcscd by that pid.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vexa-pcscd-exec SOCKET [pcscd arguments...]\n");
    return 2;
  }
  const std::string path = argv[1];
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "vexa-pcscd-exec: socket path too long\n");
    return 2;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 64) != 0) {
    std::fprintf(stderr, "vexa-pcscd-exec: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  if (fd != 3) {
    if (::dup2(fd, 3) < 0) return 1;
    ::close(fd);
  }
  ::fcntl(3, F_SETFD, 0);
  ::mkdir("/run/pcscd", 0755);  // pcscd writes its pid file there
  ::setenv("LISTEN_FDS", "1", 1);
  ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
  std::vector<char*> args;
  static char pcscd[] = "pcscd";
  args.push_back(pcscd);
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  const char* explicitPath = std::getenv("VEXA_PCSCD");
  if (explicitPath && *explicitPath) {
    ::execv(explicitPath, args.data());
  } else {
    ::execvp("pcscd", args.data());
    ::execv("/usr/sbin/pcscd", args.data());
  }
  std::fprintf(stderr, "vexa-pcscd-exec: cannot run pcscd: %s\n", std::strerror(errno));
  return 127;
}
