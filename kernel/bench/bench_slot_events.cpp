// How long a card's removal and insertion take to reach the slot table and to
// wake a get_SlotEvent waiter, on the real pcscd with a virtual reader and card.
// Times are from the moment the card program is told to leave or enter the
// reader; pcscd's own notice of the change is printed beside them.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "kernel_hooks.h"
#include "slot_table.h"
#include "vexa/kernel/slots.h"
#include "vexa/platform/module.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  std::vector<double> v;
  void Print(const char* what) {
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) sum += x;
    std::printf("%-44s n=%zu  min %7.1f  median %7.1f  mean %7.1f  max %7.1f ms\n", what, v.size(), v.front(),
                v[v.size() / 2], sum / v.size(), v.back());
  }
};

// Waits until the slot shows state (polled every 200 us); the time it was seen.
Clock::time_point WaitState(const std::shared_ptr<CSlot>& slot, DWORD state) {
  const auto limit = Clock::now() + std::chrono::seconds(15);
  while (slot->TokenState() != state) {
    if (Clock::now() > limit) throw std::runtime_error("state not reached");
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return Clock::now();
}

}  // namespace

int main() {
  try {
    vexa::testbed::PcscTestbed bed(1);
    const std::string reader = bed.ReaderNames()[0];
    const std::string regPath = bed.Dir() + "/registry.reg";
    std::ofstream(regPath) << "[HKEY_LOCAL_MACHINE\\Software\\VEXA_API_10]\n"
                           << "\"AID\"=hex:a0,00,00,07,56,45,58,41,01\n";
    setenv("VEXA_REGISTRY", regPath.c_str(), 1);
    vexa::ModuleRunStart("vexakernel", vexa::kernel::KernelStart);

    vexa::vcard::PersoOptions o;
    o.version = "M4.10";
    const std::string image = bed.Dir() + "/bench.img";
    vexa::vcard::CreateCardImage(image, o);
    vexa::testbed::VirtualCard card(bed, reader, image);

    CSlots s;
    s.LoadSlots(0);
    s.put_FindCriteria(CSlots::FIND_BY_TOKEN);
    long index = 0;
    DWORD h = 0;
    if (s.Find(&index, &h) != 0) throw std::runtime_error("no token slot");
    const std::shared_ptr<CSlot> slot = CSlots::FindSlot(h);

    constexpr int kRounds = 10;
    Stats remPcscd, remState, remWake, insPcscd, insState, insWake, remOwn, insOwn;
    for (int i = 0; i < kRounds; ++i) {
      for (bool removal : {true, false}) {
        const std::size_t before = vexa::kernel::BlockingSlotEventWaiters();
        std::promise<Clock::time_point> woke;
        std::thread waiter([&] {
          CSlots w;
          long idx = 0;
          w.get_SlotEvent(&idx, TRUE);
          woke.set_value(Clock::now());
        });
        while (vexa::kernel::BlockingSlotEventWaiters() == before) std::this_thread::yield();
        const auto t0 = Clock::now();
        if (removal)
          card.Remove();
        else
          card.Insert();
        const auto tPcscd = Clock::now();
        const auto tState = WaitState(slot, removal ? CSlot::TOKEN_REMOVED : CSlot::TOKEN_OPEN);
        auto f = woke.get_future();
        if (f.wait_for(std::chrono::seconds(15)) != std::future_status::ready)
          throw std::runtime_error("waiter not woken");
        const auto tWake = f.get();
        waiter.join();
        (removal ? remPcscd : insPcscd).v.push_back(Ms(tPcscd - t0));
        (removal ? remState : insState).v.push_back(Ms(tState - t0));
        (removal ? remWake : insWake).v.push_back(Ms(tWake - t0));
        // The engine's own share: from pcscd's notice (as the test bed saw it) to the wake-up.
        (removal ? remOwn : insOwn).v.push_back(Ms(tWake - tPcscd));
      }
    }
    std::printf("Slot events: virtual card in a vpcd reader, %d removals and insertions\n", kRounds);
    remPcscd.Print("removal: pcscd reports the reader empty");
    remState.Print("removal: slot state 4 (token closed)");
    remWake.Print("removal: get_SlotEvent waiter awake");
    insPcscd.Print("insertion: pcscd reports the card present");
    insState.Print("insertion: slot state 8 (token open)");
    insWake.Print("insertion: get_SlotEvent waiter awake");
    remOwn.Print("removal: engine share (pcscd notice -> awake)");
    insOwn.Print("insertion: engine share (pcscd notice -> awake)");
    s.UnloadSlots();
    vexa::ModuleRunStop(vexa::kernel::KernelStop);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_slot_events: %s\n", e.what());
    return 1;
  }
}
