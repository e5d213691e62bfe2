// The slot table without a card service: handles, criteria checks, stale
// handles, monitoring events delivered straight to the callback, the release of
// the table when the last reader goes, and slot-event waiters.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>

#include "slot_table.h"
#include "test_slot_env.h"
#include "vexa/kernel/slots.h"
#include "vexa/platform/widebytes.h"

using slot_test::EngineEnv;
using slot_test::WaitFor;

namespace {

class SlotUnit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // No card service: every PC/SC call fails at once with SCARD_E_NO_SERVICE.
    setenv("PCSCLITE_CSOCK_NAME", "/nonexistent/vexa-no-pcscd.comm", 1);
  }
  void SetUp() override { env = std::make_unique<EngineEnv>(); }
  void TearDown() override { env.reset(); }

  // A loaded, empty table with the given readers added as slots 1, 2, ...
  void LoadWithReaders(std::initializer_list<const char*> readers) {
    ASSERT_EQ(slots.LoadSlots(0), 0);
    ASSERT_EQ(vexa::kernel::SlotsTimesLoaded(), 1);
    BYTE i = 0;
    for (const char* r : readers) ASSERT_EQ(CSlots::AddSlot(std::make_shared<CSlot>(++i, r)), 0);
  }

  std::unique_ptr<EngineEnv> env;
  CSlots slots;
};

}  // namespace

TEST_F(SlotUnit, HandleCarriesIndexAndGeneration) {
  static_assert(CSlot::MakeHandle(3, 0) == 3);
  static_assert(CSlot::MakeHandle(3, 2) == 0x203);
  static_assert(CSlot::IndexOf(0x12305) == 5);
  CSlot s(7, "R");
  EXPECT_EQ(s.SlotHandle(), 7u);
  EXPECT_EQ(s.TokenState(), static_cast<DWORD>(CSlot::TOKEN_INITIAL));
  EXPECT_FALSE(s.TokenOpen());
}

TEST_F(SlotUnit, CriteriaAndArgumentsAreChecked) {
  LoadWithReaders({"Reader A", "Reader B"});
  long idx = 0;
  DWORD h = 0;
  EXPECT_EQ(slots.Find(&idx, &h), CSlotsDefs::ERR_INVALID_CRITERIA) << "no criteria";
  slots.put_FindCriteria(CSlots::FIND_BY_APPLICATION);
  EXPECT_EQ(slots.Find(&idx, &h), CSlotsDefs::ERR_INVALID_CRITERIA) << "application without AID";
  slots.put_FindCriteria(CSlots::FIND_BY_READER);
  EXPECT_EQ(slots.Find(&idx, &h), CSlotsDefs::ERR_INVALID_CRITERIA) << "reader without name";

  EXPECT_EQ(slots.Attach(), CSlotsDefs::ERR_INVALID_CRITERIA) << "no criteria";
  slots.put_AttachCriteria(CSlots::ATTACH_TOKEN_PRESENT);
  EXPECT_EQ(slots.Attach(), CSlotsDefs::ERR_INVALID_CRITERIA) << "no current slot";
  slots.put_SlotHandle(1);
  slots.put_AttachCriteria(CSlots::ATTACH_BY_AID | CSlots::ATTACH_TOKEN_PRESENT);
  EXPECT_EQ(slots.Attach(), CSlotsDefs::ERR_INVALID_CRITERIA) << "0x0A without AID";
  slots.put_AttachCriteria(0x0E);
  const WCHAR aid[] = {0xA0, 0x00, 0x00, 0x07};
  ASSERT_EQ(slots.put_AID(aid, 4), 0);
  EXPECT_EQ(slots.Attach(), CSlotsDefs::ERR_INVALID_CRITERIA) << "0x04 without directory identifier";

  EXPECT_EQ(slots.put_AID(nullptr, 4), CSlotsDefs::ERR_INVALID_PARAMETER);
  EXPECT_EQ(slots.put_AID(aid, 0), CSlotsDefs::ERR_INVALID_PARAMETER);
  const WCHAR notByte[] = {0x41, 0x4242};
  EXPECT_EQ(slots.put_GDO(notByte, 2), CSlotsDefs::ERR_MEMORY);
  EXPECT_EQ(slots.put_UID(-1, aid), CSlotsDefs::ERR_INVALID_PARAMETER);
  EXPECT_EQ(slots.put_SlotName(nullptr), CSlotsDefs::ERR_INVALID_PARAMETER);
  BSTR got = nullptr;
  long len = 0;
  ASSERT_EQ(slots.get_AID(&got, &len), 0);
  EXPECT_EQ(vexa::BstrToBytes(got), (std::vector<BYTE>{0xA0, 0x00, 0x00, 0x07}));
  SysFreeString(got);

  // Find by reader name walks every slot once.
  vexa::UniqueBstr name(vexa::Utf8ToBstr("Reader B"));
  ASSERT_EQ(slots.put_SlotName(name.get()), 0);
  idx = 0;
  ASSERT_EQ(slots.Find(&idx, &h), 0);
  EXPECT_EQ(h, 2u);
  EXPECT_EQ(slots.Find(&idx, &h), -1) << "no further slot";
  slots.put_FindCriteria(CSlots::FIND_ANY_SLOT);
  idx = 0;
  int n = 0;
  while (slots.Find(&idx, &h) == 0) ++n;
  EXPECT_EQ(n, 2);
  slots.put_FindCriteria(CSlots::FIND_BY_TOKEN);
  idx = 0;
  EXPECT_EQ(slots.Find(&idx, &h), -1) << "no slot holds a token";
}

TEST_F(SlotUnit, CurrentSlotQueries) {
  LoadWithReaders({"Reader A"});
  DWORD state = 0;
  EXPECT_EQ(slots.get_TokenState(&state), CSlotsDefs::ERR_NO_SLOT_ATTAHED);
  BSTR name = nullptr;
  EXPECT_EQ(slots.get_SlotName(&name), CSlotsDefs::ERR_NO_SLOT_ATTAHED);
  long major = 0, minor = 0;
  EXPECT_EQ(slots.get_TokenVersion(&major, &minor), CSlotsDefs::ERR_NO_SLOT_ATTAHED);

  slots.put_SlotHandle(1);
  ASSERT_EQ(slots.get_TokenState(&state), 0);
  EXPECT_EQ(state, 6u);
  ASSERT_EQ(slots.get_SlotName(&name), 0);
  EXPECT_EQ(vexa::BstrToUtf8(name).value_or(""), "Reader A");
  SysFreeString(name);
  EXPECT_EQ(slots.get_TokenVersion(&major, &minor), CSlotsDefs::ERR_NO_TOKEN);
  long ulen = 0;
  BSTR uid = nullptr;
  EXPECT_EQ(slots.get_UID(&ulen, &uid), CSlotsDefs::ERR_NO_TOKEN);
  BSTR rnd = nullptr;
  long rlen = 8;
  EXPECT_EQ(slots.get_Random(&rnd, &rlen), CSlotsDefs::ERR_NO_TOKEN);
  BOOL present = 7;
  EXPECT_EQ(slots.IsTokenPresent(&present), 0);
  EXPECT_EQ(present, FALSE);

  // A handle of another generation is stale.
  slots.put_SlotHandle(0x101);
  EXPECT_EQ(slots.get_TokenState(&state), CSlotsDefs::ERR_NO_TOKEN);
  EXPECT_EQ(slots.get_SlotName(&name), CSlotsDefs::ERR_NO_TOKEN);
  EXPECT_EQ(slots.get_UID(&ulen, &uid), -1);
  present = 7;
  EXPECT_EQ(slots.IsTokenPresent(&present), 0);
  EXPECT_EQ(present, 7) << "unknown slot leaves the flag";
  EXPECT_EQ(CSlots::FindSlot(0x101), nullptr);
  ASSERT_NE(CSlots::FindSlot(1), nullptr);
  DWORD h = 0x101;
  BOOL same = 9;
  ASSERT_EQ(slots.IsSameToken(&h, &same), 0);
  EXPECT_EQ(same, FALSE);
  EXPECT_EQ(h, 1u) << "the current handle is given back";
  h = 0x05;
  same = 9;
  ASSERT_EQ(slots.IsSameToken(&h, &same), 0);
  EXPECT_EQ(same, 9) << "no slot 5: outputs unchanged";

  // The queries that need the card directory say so.
  BOOL flag = 0;
  DWORD flags = 0;
  EXPECT_EQ(slots.GetInitTokenState(&flag), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.SetInitTokenState(), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.Get_Flags(&flags), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.Set_Flags(1), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.Set_TokenFlags(1, TRUE), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.get_GDOversion(1, &major), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.get_Label(1, &name, &major), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.set_Label(1, nullptr, 0), CSlotsDefs::ERR_NOT_SUPPORTED);
  EXPECT_EQ(slots.get_FreeMemory(1, &flags), CSlotsDefs::ERR_NOT_SUPPORTED);

  // By-handle queries: the handle rule and unknown slots.
  CSlots other;
  DWORD total = 1234;
  EXPECT_EQ(other.get_TotalMemory(9, &total), CSlotsDefs::ERR_NO_SLOT_FOUND);
  EXPECT_EQ(other.get_TotalMemory(1, &total), CSlotsDefs::ERR_INVALID_PARAMETER) << "9 became current";
  EXPECT_EQ(slots.get_TotalMemory(0x101, &total), CSlotsDefs::ERR_NO_SLOT_FOUND) << "stale handle";
  EXPECT_EQ(slots.get_TotalMemory(0x201, &total), CSlotsDefs::ERR_INVALID_PARAMETER) << "not the current one";
  slots.put_SlotHandle(1);
  EXPECT_EQ(slots.get_TotalMemory(1, &total), 0);
  EXPECT_EQ(total, 1234u) << "no token: unchanged";
  EXPECT_EQ(slots.IsSecAuthProtected(9, &flag), CSlotsDefs::ERR_NO_SLOT_FOUND);
  const WCHAR atr[] = {0x3B, 0x00};
  EXPECT_EQ(slots.IsSameATR(1, atr, 2), 0);
  BOOL pad = 5;
  EXPECT_EQ(slots.IsPinPadOn(&pad), 1);
  EXPECT_EQ(pad, FALSE) << "not a PIN-pad reader";
}

TEST_F(SlotUnit, LoadCountAndRelease) {
  EXPECT_FALSE(CSlots::AlreadyLoaded());
  LoadWithReaders({"Reader A"});
  ASSERT_EQ(slots.LoadSlots(1), 0);
  EXPECT_EQ(vexa::kernel::SlotsTimesLoaded(), 2);
  ASSERT_EQ(slots.UnloadSlots(), 0);
  EXPECT_TRUE(CSlots::AlreadyLoaded());
  EXPECT_NE(CSlots::FindSlot(1), nullptr) << "the table stays while another client holds it";
  ASSERT_EQ(slots.UnloadSlots(), 0);
  EXPECT_FALSE(CSlots::AlreadyLoaded());
  EXPECT_EQ(CSlots::FindSlot(1), nullptr);
  ASSERT_EQ(slots.UnloadSlots(), 0) << "an extra call is harmless";
  EXPECT_EQ(vexa::kernel::SlotsTimesLoaded(), 0);
}

TEST_F(SlotUnit, EventsForUnknownReadersAreIgnored) {
  vexa::kernel::SlotEventCallback("Nobody", CARD_EVENT_REMOVED);  // empty table
  LoadWithReaders({"Reader A"});
  vexa::kernel::SlotEventCallback("Reader a", CARD_EVENT_REMOVED);  // names compare exactly
  vexa::kernel::SlotEventCallback(nullptr, CARD_EVENT_REMOVED);
  vexa::kernel::SlotEventCallback("Reader A", CARD_EVENT_PRESENT);  // ignored
  auto s = CSlots::FindSlot(1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->TokenState(), 6u);
  EXPECT_TRUE(s->IsFresh());
  const std::string t = env->TraceText();
  EXPECT_NE(t.find("Unhandled smartcard reader Nobody"), std::string::npos) << t;
  EXPECT_NE(t.find("Unhandled smartcard reader Reader a"), std::string::npos);
}

TEST_F(SlotUnit, OneReaderGoingKeepsTheTableTheLastReleasesIt) {
  LoadWithReaders({"Reader A", "Reader B"});
  vexa::kernel::SlotEventCallback("Reader A", CARD_EVENT_READER_GONE);
  auto a = CSlots::FindSlot(1);
  ASSERT_NE(a, nullptr) << "Reader B is still there, so the table stays";
  EXPECT_EQ(a->TokenState(), 16u);
  EXPECT_FALSE(a->IsFresh());
  EXPECT_TRUE(CSlots::AlreadyLoaded());

  // A blocked waiter is woken by the event and then by the release.
  long index = 0;
  auto waiter = std::async(std::launch::async, [&] { return slots.get_SlotEvent(&index, TRUE); });
  ASSERT_TRUE(WaitFor([] { return vexa::kernel::BlockingSlotEventWaiters() == 1; }));
  vexa::kernel::SlotEventCallback("Reader B", CARD_EVENT_READER_GONE);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), 0);
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(CSlots::AlreadyLoaded()) << "the last reader released the table";
  EXPECT_EQ(CSlots::FindSlot(2), nullptr);

  // Loading again starts afresh (indexes from 1).
  LoadWithReaders({"Reader C"});
  EXPECT_NE(CSlots::FindSlot(1), nullptr);
}

TEST_F(SlotUnit, ReleasingTheTableWakesBlockedWaiters) {
  LoadWithReaders({"Reader A"});
  long index = 0;
  CSlots other;
  auto waiter = std::async(std::launch::async, [&] { return other.get_SlotEvent(&index, TRUE); });
  ASSERT_TRUE(WaitFor([] { return vexa::kernel::BlockingSlotEventWaiters() == 1; }));
  ASSERT_EQ(slots.UnloadSlots(), 0);
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), -1);
  EXPECT_EQ(vexa::kernel::BlockingSlotEventWaiters(), 0u);
}

TEST_F(SlotUnit, NonBlockingWaitAndPendingEvent) {
  LoadWithReaders({"Reader A"});
  long index = 5;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(slots.get_SlotEvent(&index, FALSE), 0);
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(index, -1);
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::seconds(5));

  // An event that comes while nobody polls is there for the next poll, once.
  vexa::kernel::SlotEventCallback("Reader A", CARD_EVENT_REMOVED);
  ASSERT_EQ(slots.get_SlotEvent(&index, FALSE), 0);
  EXPECT_EQ(index, 1);
  ASSERT_EQ(slots.get_SlotEvent(&index, FALSE), 0);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(slots.get_SlotEvent(nullptr, FALSE), CSlotsDefs::ERR_INVALID_PARAMETER);
}

TEST_F(SlotUnit, MethodsAreTracedAndRefusedWhenUnstarted) {
  LoadWithReaders({"Reader A"});
  DWORD state = 0;
  slots.get_TokenState(&state);
  const std::string t = env->TraceText();
  for (const char* line : {"IN  -> CSlots::LoadSlots\n", "OUT -> CSlots::LoadSlots\n",
                           "OUT -> CSlots::get_TokenState - ERR_NO_SLOT_ATTAHED\n"})
    EXPECT_NE(t.find(line), std::string::npos) << line << t;
  ASSERT_EQ(slots.LoadSlots(0), 0);  // a client that never unloads
  env.reset();
  EXPECT_FALSE(CSlots::AlreadyLoaded()) << "the stop released the table whatever the count";
  EXPECT_EQ(CSlots::FindSlot(1), nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(slots.LoadSlots(0), CSlotsDefs::ERR_GENERIC);
  testing::internal::GetCapturedStderr();
}
