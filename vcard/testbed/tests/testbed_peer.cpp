// A second test program for the "two test beds at once" tests: it builds its
// own bed with one card, sends SELECT, prints what it has, and keeps everything
// running until its standard input closes.
//   socket <path> / dir <folder> / pcscd <pid> / port <port> / select <hex> / ready
#include <winscard.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "vexa/testbed/testbed.h"

int main() {
  try {
    vexa::testbed::PcscTestbed bed(1);
    const std::string reader = bed.ReaderNames()[0];
    const std::string image = bed.Dir() + "/peer.img";
    std::ofstream(image) << "atr=3B0299AA\n";
    vexa::testbed::VirtualCard card(bed, reader, image);

    SCARDCONTEXT ctx;
    SCARDHANDLE h;
    DWORD proto = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return 1;
    if (SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &h, &proto) !=
        SCARD_S_SUCCESS)
      return 1;
    const BYTE select[] = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};
    BYTE rsp[258];
    DWORD len = sizeof rsp;
    const SCARD_IO_REQUEST* pci = proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    if (SCardTransmit(h, pci, select, sizeof select, nullptr, rsp, &len) != SCARD_S_SUCCESS) return 1;
    std::cout << "socket " << bed.SocketPath() << "\n"
              << "dir " << bed.Dir() << "\n"
              << "pcscd " << bed.DaemonPid() << "\n"
              << "port " << bed.Port(reader) << "\n"
              << "select ";
    for (DWORD i = 0; i < len; ++i) std::printf("%02X", rsp[i]);
    std::fflush(stdout);
    std::cout << "\nready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    SCardDisconnect(h, SCARD_LEAVE_CARD);
    SCardReleaseContext(ctx);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "testbed peer: " << e.what() << "\n";
    return 1;
  }
}
