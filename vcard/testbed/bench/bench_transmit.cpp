// Small commands per second that a virtual card sustains through pcscd, with
// bare SCardTransmit: the ceiling for every card benchmark of the system.
// Measured twice: with the stand-in card program (answers at once, so the
// figure is the transport's: pcscd, the vpcd driver, TCP, the program) and,
// when it is built, with vexa-vcard over the card OS simulator.
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
#ifdef VEXA_BENCH_CARD_OS
#include "vexa/vcard/perso.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Cmd = std::vector<BYTE>;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

class Connection {
 public:
  explicit Connection(const std::string& reader) {
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx) != SCARD_S_SUCCESS ||
        SCardConnect(m_ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_card,
                     &m_proto) != SCARD_S_SUCCESS) {
      throw std::runtime_error("cannot connect to the virtual card in " + reader);
    }
    m_pci = m_proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
  }
  ~Connection() {
    SCardDisconnect(m_card, SCARD_LEAVE_CARD);
    SCardReleaseContext(m_ctx);
  }
  void Transmit(const Cmd& cmd) {
    BYTE rsp[300];
    DWORD len = sizeof rsp;
    const LONG rv = SCardTransmit(m_card, m_pci, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr, rsp, &len);
    if (rv != SCARD_S_SUCCESS || len < 2) throw std::runtime_error(std::string("SCardTransmit: ") + pcsc_stringify_error(rv));
  }
  // Sends cmd for about forSeconds; prints and returns commands per second.
  double Measure(const char* what, const Cmd& cmd, double forSeconds) {
    int n = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(forSeconds));
    while (Clock::now() < end) {
      for (int i = 0; i < 100; ++i, ++n) Transmit(cmd);
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  %-44s %7d in %.2f s = %7.0f commands/s (%.3f ms each)\n", what, n, s, n / s, 1000.0 * s / n);
    return n / s;
  }

 private:
  SCARDCONTEXT m_ctx = 0;
  SCARDHANDLE m_card = 0;
  DWORD m_proto = 0;
  const SCARD_IO_REQUEST* m_pci = nullptr;
};

}  // namespace

int main() {
  try {
    const auto setupStart = Clock::now();
    auto bed = std::make_unique<vexa::testbed::PcscTestbed>(1);
    const auto bedReady = Clock::now();
    std::printf("private pcscd up and listing its readers: %.0f ms\n", Ms(setupStart, bedReady));

    // The stand-in card program.
    const std::string standInReader = bed->ReaderNames()[0];
    const std::string standInImage = bed->Dir() + "/bench.img";
    std::ofstream(standInImage) << "atr=3B8880010000000000000000F0\n";
    setenv("VEXA_VCARD_PROGRAM", VEXA_VCARD_FAKE_PROGRAM, 1);
    auto cardStart = Clock::now();
    auto card = std::make_unique<vexa::testbed::VirtualCard>(*bed, standInReader, standInImage);
    const auto cardReady = Clock::now();
    {
      Connection c(standInReader);
      const Cmd echo16 = {0x80, 0x01, 0x00, 0x00, 0x10, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
      c.Measure("warm-up", echo16, 0.2);
      std::printf("stand-in card program, bare SCardTransmit:\n");
      c.Measure("5-byte command, status word back", {0x80, 0xCA, 0x01, 0x82, 0x00}, 1.0);
      c.Measure("21-byte command, 18 bytes back", echo16, 1.0);
      c.Measure("5-byte command, 258 bytes back", {0x80, 0x02, 0x00, 0x00, 0x00}, 1.0);
    }
    const auto removeStart = Clock::now();
    card->Remove();
    const auto removed = Clock::now();
    card->Insert();
    const auto inserted = Clock::now();
    std::printf("  card start to PRESENT %.0f ms, removal to EMPTY %.0f ms, insertion to PRESENT %.0f ms\n",
                Ms(cardStart, cardReady), Ms(removeStart, removed), Ms(removed, inserted));
    card.reset();

#ifdef VEXA_BENCH_CARD_OS
    // vexa-vcard over the card OS simulator.
    unsetenv("VEXA_VCARD_PROGRAM");
    const std::string reader = bed->ReaderNames()[1];
    const std::string image = bed->Dir() + "/m410.img";
    vexa::vcard::PersoOptions perso;
    perso.version = "M4.10";
    vexa::vcard::CreateCardImage(image, perso);
    cardStart = Clock::now();
    card = std::make_unique<vexa::testbed::VirtualCard>(*bed, reader, image);
    std::printf("vexa-vcard over the card OS simulator (M4.10), bare SCardTransmit:\n");
    std::printf("  card start to PRESENT %.0f ms\n", Ms(cardStart, Clock::now()));
    {
      Connection c(reader);
      Cmd select = {0x00, 0xA4, 0x04, 0x00, static_cast<BYTE>(perso.aid.size())};
      select.insert(select.end(), perso.aid.begin(), perso.aid.end());
      c.Transmit(select);
      c.Measure("GET DATA 01 82 (card OS version)", {0x00, 0xCA, 0x01, 0x82, 0x00}, 1.0);
      c.Measure("SELECT application by DF name", select, 1.0);
    }
    card.reset();
#else
    std::printf("vexa-vcard over the card OS simulator: not built\n");
#endif

    const auto stopStart = Clock::now();
    bed.reset();
    std::printf("pcscd stopped by its pid (SIGTERM until it ended): %.0f ms\n", Ms(stopStart, Clock::now()));
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
}
