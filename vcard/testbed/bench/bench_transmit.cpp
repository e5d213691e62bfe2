// Small commands per second that a virtual card sustains through pcscd, with
// bare SCardTransmit: the ceiling for every card benchmark of the system.
// Prints its figures; it fails only when the test bed cannot be set up.
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "vexa/testbed/testbed.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
  int count;
  double seconds;
};

Run Measure(SCARDHANDLE h, const SCARD_IO_REQUEST* pci, const std::vector<BYTE>& cmd, double forSeconds) {
  BYTE rsp[300];
  int n = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(forSeconds));
  while (Clock::now() < end) {
    for (int i = 0; i < 100; ++i, ++n) {
      DWORD len = sizeof rsp;
      const LONG rv = SCardTransmit(h, pci, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr, rsp, &len);
      if (rv != SCARD_S_SUCCESS || len < 2) {
        std::fprintf(stderr, "SCardTransmit failed: %s\n", pcsc_stringify_error(rv));
        std::exit(1);
      }
    }
  }
  return {n, std::chrono::duration<double>(Clock::now() - start).count()};
}

}  // namespace

int main() {
  try {
    // The stand-in card answers at once, so the figure is the transport's
    // (pcscd, the vpcd driver, TCP, the card program), not a card OS's.
    if (!std::getenv("VEXA_VCARD_PROGRAM")) setenv("VEXA_VCARD_PROGRAM", VEXA_VCARD_FAKE_PROGRAM, 1);
    const auto setupStart = Clock::now();
    auto bed = std::make_unique<vexa::testbed::PcscTestbed>(1);
    const auto bedReady = Clock::now();
    const std::string reader = bed->ReaderNames()[0];
    const std::string image = bed->Dir() + "/bench.img";
    std::ofstream(image) << "atr=3B8880010000000000000000F0\n";
    auto card = std::make_unique<vexa::testbed::VirtualCard>(*bed, reader, image);
    const auto cardReady = Clock::now();

    SCARDCONTEXT ctx;
    SCARDHANDLE h;
    DWORD proto = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS ||
        SCardConnect(ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &h, &proto) !=
            SCARD_S_SUCCESS) {
      std::fprintf(stderr, "cannot connect to the virtual card\n");
      return 1;
    }
    const SCARD_IO_REQUEST* pci = proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    const std::vector<BYTE> echo16 = {0x80, 0x01, 0x00, 0x00, 0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const std::vector<BYTE> header = {0x80, 0xCA, 0x01, 0x82, 0x00};  // 4-byte header + Le, 2-byte answer
    const std::vector<BYTE> get256 = {0x80, 0x02, 0x00, 0x00, 0x00};  // 256 bytes back

    Measure(h, pci, echo16, 0.2);  // warm-up
    std::printf("virtual card through pcscd, bare SCardTransmit (%s)\n", reader.c_str());
    const struct {
      const char* what;
      const std::vector<BYTE>& cmd;
    } cases[] = {{"case 2, 5 bytes in, SW only", header},
                 {"case 4, 16 bytes in, 18 out", echo16},
                 {"case 2, 5 bytes in, 258 out", get256}};
    for (const auto& c : cases) {
      const Run r = Measure(h, pci, c.cmd, 1.0);
      std::printf("  %-30s %8d commands in %.2f s = %8.0f commands/s (%.3f ms each)\n", c.what, r.count, r.seconds,
                  r.count / r.seconds, 1000.0 * r.seconds / r.count);
    }
    SCardDisconnect(h, SCARD_LEAVE_CARD);
    SCardReleaseContext(ctx);

    const auto removeStart = Clock::now();
    card->Remove();
    const auto removed = Clock::now();
    card->Insert();
    const auto inserted = Clock::now();
    auto ms = [](Clock::time_point a, Clock::time_point b) {
      return std::chrono::duration<double, std::milli>(b - a).count();
    };
    std::printf("  private pcscd up and listing its readers: %.0f ms\n", ms(setupStart, bedReady));
    std::printf("  card start to PRESENT: %.0f ms; removal to EMPTY: %.0f ms; insertion to PRESENT: %.0f ms\n",
                ms(bedReady, cardReady), ms(removeStart, removed), ms(removed, inserted));
    card.reset();
    const auto stopStart = Clock::now();
    bed.reset();
    std::printf("  pcscd stopped by its pid (SIGTERM until it ended): %.0f ms\n", ms(stopStart, Clock::now()));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark set-up failed: %s\n", e.what());
    return 1;
  }
}
