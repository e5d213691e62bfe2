// Unloading the engine (dlclose) while a client still holds the slot list: the
// stop hook releases the table and stops card monitoring, so a card event that
// comes afterwards reaches no unloaded code.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "test_slot_env.h"
#include "vexa/kernel/slots.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;

TEST(CardSlotsUnload, StopHookReleasesTheTableOfAClientThatNeverUnloaded) {
  PcscTestbed bed(1);
  slot_test::EngineEnv env;  // the registry file with "AID" for the loaded engine
  const std::string reader = bed.ReaderNames()[0];
  vexa::vcard::PersoOptions o;
  const std::string image = bed.Dir() + "/card.img";
  vexa::vcard::CreateCardImage(image, o);
  VirtualCard card(bed, reader, image);

  void* so = dlopen(VEXA_KERNEL_SO, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(so, nullptr) << dlerror();
  // The engine's own CSlots, reached by its exported symbols.
  using Ctor = void (*)(void*);
  using Load = long (*)(void*, int);
  using State = long (*)(void*, DWORD*);
  using Handle = long (*)(void*, DWORD);
  using Find = long (*)(void*, long*, DWORD*);
  using Crit = long (*)(void*, DWORD);
  auto ctor = reinterpret_cast<Ctor>(dlsym(so, "_ZN6CSlotsC1Ev"));
  auto dtor = reinterpret_cast<Ctor>(dlsym(so, "_ZN6CSlotsD1Ev"));
  auto load = reinterpret_cast<Load>(dlsym(so, "_ZN6CSlots9LoadSlotsEi"));
  auto crit = reinterpret_cast<Crit>(dlsym(so, "_ZN6CSlots16put_FindCriteriaEm"));
  auto find = reinterpret_cast<Find>(dlsym(so, "_ZN6CSlots4FindEPlPm"));
  auto put = reinterpret_cast<Handle>(dlsym(so, "_ZN6CSlots14put_SlotHandleEm"));
  auto state = reinterpret_cast<State>(dlsym(so, "_ZN6CSlots14get_TokenStateEPm"));
  ASSERT_TRUE(ctor && dtor && load && crit && find && put && state)
      << !!ctor << !!dtor << !!load << !!crit << !!find << !!put << !!state;

  // The client works on a thread of its own that ends before the unload: a
  // thread that has sent card commands keeps the card library (and with it the
  // engine) loaded until it ends, through the card library's per-thread buffer.
  std::thread client([&] {
    alignas(CSlots) unsigned char mem[sizeof(CSlots)];
    ctor(mem);
    EXPECT_EQ(load(mem, 0), 0);
    EXPECT_EQ(load(mem, 0), 0);  // counted twice: a plain UnloadSlots step would keep the table
    crit(mem, CSlots::FIND_BY_TOKEN);
    long index = 0;
    DWORD h = 0;
    EXPECT_EQ(find(mem, &index, &h), 0);
    DWORD st = 0;
    EXPECT_EQ(state(mem, &st), 0);
    EXPECT_EQ(st, 8u);
    dtor(mem);  // the client forgets to call UnloadSlots
  });
  client.join();

  ASSERT_EQ(dlclose(so), 0);
  EXPECT_EQ(dlopen(VEXA_KERNEL_SO, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the engine is unloaded";
  // Card events now: no monitoring thread may call into the unloaded engine.
  card.Remove();
  card.Insert();
  card.Remove();
}
