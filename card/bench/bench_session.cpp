// Figures of the card session against a private pcscd and a virtual card:
// commands per second through CCardSession::Send next to bare SCardTransmit on
// the same card handle in the same run, and the time from a card's removal or
// insertion to the monitoring callback. Prints its figures; never fails on them.
#include <PCSC/winscard.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "vexa/card/card_session.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

using Clock = std::chrono::steady_clock;

namespace {

struct EventClock {
  std::mutex m;
  std::condition_variable cv;
  int last = 0;
  Clock::time_point at;
} g_ev;

void OnEvent(const char*, int ev) {
  std::lock_guard<std::mutex> l(g_ev.m);
  g_ev.last = ev;
  g_ev.at = Clock::now();
  g_ev.cv.notify_all();
}

bool WaitEvent(int ev, Clock::time_point& at) {
  std::unique_lock<std::mutex> l(g_ev.m);
  const bool ok = g_ev.cv.wait_for(l, std::chrono::seconds(10), [&] { return g_ev.last == ev; });
  at = g_ev.at;
  g_ev.last = 0;
  return ok;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main() {
  try {
    vexa::testbed::PcscTestbed bed(1);
    const std::string reader = bed.ReaderNames()[0];
    const std::string image = bed.Dir() + "/bench.img";
    vexa::vcard::CreateCardImage(image, vexa::vcard::PersoOptions{});
    vexa::testbed::VirtualCard card(bed, reader, image);

    CCardSession s;
    if (!s.InitRM() || s.Connect(reader.c_str()) != SCARD_S_SUCCESS) {
      std::printf("card_bench_session: no connection\n");
      return 1;
    }
    APDU a;
    a.INS = 0xCA;
    a.P1 = 0x01;
    a.P2 = 0x82;
    a.Le = 0x02;
    const BYTE raw[] = {0x00, 0xCA, 0x01, 0x82, 0x02};
    BYTE buf[258];

    auto viaSession = [&](int n) {
      for (int i = 0; i < n; ++i) {
        BYTE len = 255;
        s.Send(a, buf, &len);
      }
    };
    auto viaTransmit = [&](int n) {
      for (int i = 0; i < n; ++i) {
        DWORD len = sizeof buf;
        SCardTransmit(s.GetCardHandle(), SCARD_PCI_T1, raw, sizeof raw, nullptr, buf, &len);
      }
    };
    viaSession(200);
    viaTransmit(200);
    // Alternating blocks, so that both see the same machine load (the machine
    // is shared): the cost is the median of the per-pair ratios.
    const int block = 100;
    Clock::duration tSession{}, tBare{};
    int nSession = 0, nBare = 0;
    std::vector<double> ratios;
    const auto end = Clock::now() + std::chrono::seconds(4);
    while (Clock::now() < end) {
      auto t0 = Clock::now();
      viaSession(block);
      const auto dSession = Clock::now() - t0;
      t0 = Clock::now();
      viaTransmit(block);
      const auto dBare = Clock::now() - t0;
      tSession += dSession;
      tBare += dBare;
      nSession += block;
      nBare += block;
      ratios.push_back(std::chrono::duration<double>(dSession).count() /
                       std::chrono::duration<double>(dBare).count());
    }
    const double rateSession = nSession / std::chrono::duration<double>(tSession).count();
    const double rateBare = nBare / std::chrono::duration<double>(tBare).count();
    std::printf("card_bench_session: GET DATA through CCardSession::Send: %.0f commands/s (%d commands)\n",
                rateSession, nSession);
    std::printf("card_bench_session: GET DATA through bare SCardTransmit: %.0f commands/s (%d commands)\n",
                rateBare, nBare);
    std::printf("card_bench_session: session cost: %+.1f %% against the bare call, median of %zu block pairs "
                "(target: within 5 %%)\n",
                (Median(ratios) - 1.0) * 100.0, ratios.size());
    s.Disconnect();

    if (CCardSession::StartCardMonitoringEx(reader.c_str(), &OnEvent, TRUE, TRUE) != 0) {
      std::printf("card_bench_session: monitoring did not start\n");
      return 1;
    }
    Clock::time_point at;
    WaitEvent(CARD_EVENT_PRESENT, at);
    std::vector<double> removal, insertion, removalSeen, insertionSeen;
    for (int round = 0; round < 5; ++round) {
      auto t0 = Clock::now();
      card.Remove();  // returns once pcscd reports the reader empty
      const auto seen = Clock::now();
      if (!WaitEvent(CARD_EVENT_REMOVED, at)) break;
      removal.push_back(Ms(at - t0));
      removalSeen.push_back(Ms(at - seen));
      t0 = Clock::now();
      card.Insert();
      const auto seenIn = Clock::now();
      if (!WaitEvent(CARD_EVENT_INSERTED, at)) break;
      insertion.push_back(Ms(at - t0));
      insertionSeen.push_back(Ms(at - seenIn));
    }
    CCardSession::StopCardMonitoring();
    std::printf("card_bench_session: removal -> callback: median %.1f ms (%zu rounds; %.1f ms after the test bed saw it)\n",
                Median(removal), removal.size(), Median(removalSeen));
    std::printf("card_bench_session: insertion -> callback: median %.1f ms (%zu rounds; %.1f ms after the test bed saw it)\n",
                Median(insertion), insertion.size(), Median(insertionSeen));
    return 0;
  } catch (const std::exception& e) {
    std::printf("card_bench_session: %s\n", e.what());
    return 1;
  }
}
