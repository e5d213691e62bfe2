// Holds a reader exclusively for another process's test: connects to the reader
// named by argv[1] in exclusive mode, prints "ready" (or "error <code>") and
// keeps the connection until its standard input closes.
#include <PCSC/winscard.h>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  SCARDCONTEXT ctx = 0;
  SCARDHANDLE h = 0;
  DWORD proto = 0;
  LONG rc = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx);
  if (rc == SCARD_S_SUCCESS) {
    rc = SCardConnect(ctx, argv[1], SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &h, &proto);
  }
  if (rc != SCARD_S_SUCCESS) {
    std::printf("error %08lX\n", static_cast<unsigned long>(static_cast<DWORD>(rc)));
    std::fflush(stdout);
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  SCardDisconnect(h, SCARD_LEAVE_CARD);
  SCardReleaseContext(ctx);
  return 0;
}
