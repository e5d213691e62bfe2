// The slot table against the real pcscd: two virtual readers, virtual cards of
// every card OS version, insertion and removal reaching the table and waking
// get_SlotEvent waiters, handle generations and the UID check of IsSameToken.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "slot_table.h"
#include "test_slot_env.h"
#include "vexa/kernel/slots.h"
#include "vexa/platform/widebytes.h"
#include "vexa/testbed/testbed.h"
#include "vexa/vcard/perso.h"

using slot_test::EngineEnv;
using slot_test::WaitFor;
using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;

namespace {

// The application DF name of the virtual cards, as the engine is configured.
const std::vector<BYTE> kAid = {0xA0, 0x00, 0x00, 0x07, 0x56, 0x45, 0x58, 0x41, 0x01};

std::vector<WCHAR> Wide(const std::vector<BYTE>& b) { return std::vector<WCHAR>(b.begin(), b.end()); }

std::vector<BYTE> Bytes(BSTR s) {
  auto b = vexa::BstrToBytes(s);
  SysFreeString(s);
  return b.value_or(std::vector<BYTE>{});
}

class CardSlots : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_bed = std::make_unique<PcscTestbed>(1); }
  static void TearDownTestSuite() { s_bed.reset(); }
  void SetUp() override {
    env = std::make_unique<EngineEnv>();
    readers = s_bed->ReaderNames();
    ASSERT_EQ(readers.size(), 2u);
  }
  void TearDown() override { env.reset(); }

  std::string Image(const std::string& name, const std::string& version,
                    std::vector<uint8_t> serial = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}) {
    vexa::vcard::PersoOptions o;
    o.version = version;
    o.serial = std::move(serial);
    const std::string path = s_bed->Dir() + "/" + name + ".img";
    vexa::vcard::CreateCardImage(path, o);
    return path;
  }

  // Every slot the table lists: handle and reader name, in Find order.
  std::vector<std::pair<DWORD, std::string>> AllSlots(CSlots& s, DWORD criteria = CSlots::FIND_ANY_SLOT) {
    std::vector<std::pair<DWORD, std::string>> out;
    s.put_FindCriteria(criteria);
    long index = 0;
    DWORD h = 0;
    while (s.Find(&index, &h) == 0) {
      BSTR name = nullptr;
      EXPECT_EQ(s.get_SlotName(&name), 0);
      out.emplace_back(h, vexa::BstrToUtf8(name).value_or(""));
      SysFreeString(name);
    }
    return out;
  }

  DWORD HandleOf(CSlots& s, const std::string& reader) {
    for (const auto& [h, name] : AllSlots(s))
      if (name == reader) return h;
    ADD_FAILURE() << "no slot for " << reader;
    return 0;
  }

  DWORD StateOf(DWORD h) {
    CSlots s;
    s.put_SlotHandle(h);
    DWORD state = 0;
    return s.get_TokenState(&state) == 0 ? state : 0xFFFFFFFFu;
  }

  // Starts a blocking get_SlotEvent and returns once it waits.
  std::future<std::pair<long, long>> BlockedWaiter(CSlots& s) {
    const std::size_t before = vexa::kernel::BlockingSlotEventWaiters();
    auto f = std::async(std::launch::async, [&s] {
      long index = 0;
      const long rc = s.get_SlotEvent(&index, TRUE);
      return std::make_pair(rc, index);
    });
    EXPECT_TRUE(WaitFor([&] { return vexa::kernel::BlockingSlotEventWaiters() > before; }));
    return f;
  }

  static std::unique_ptr<PcscTestbed> s_bed;
  std::unique_ptr<EngineEnv> env;
  std::vector<std::string> readers;
};
std::unique_ptr<PcscTestbed> CardSlots::s_bed;

}  // namespace

TEST_F(CardSlots, TwoReadersOneCard) {
  VirtualCard card(*s_bed, readers[0], Image("m410", "M4.10"));
  CSlots s;
  ASSERT_EQ(s.LoadSlots(0), 0);
  const auto all = AllSlots(s);
  ASSERT_EQ(all.size(), 2u) << "one slot per reader, each listed once";
  EXPECT_EQ((std::set<std::string>{all[0].second, all[1].second}),
            (std::set<std::string>{readers[0], readers[1]}));
  const DWORD hCard = HandleOf(s, readers[0]);
  const DWORD hEmpty = HandleOf(s, readers[1]);
  EXPECT_EQ(StateOf(hCard), 8u);
  EXPECT_EQ(StateOf(hEmpty), 6u);
  EXPECT_EQ(AllSlots(s, CSlots::FIND_BY_TOKEN).size(), 1u);

  const auto aid = Wide(kAid);
  ASSERT_EQ(s.put_AID(aid.data(), static_cast<long>(aid.size())), 0);
  const auto byApp = AllSlots(s, CSlots::FIND_BY_APPLICATION | CSlots::FIND_BY_TOKEN);
  ASSERT_EQ(byApp.size(), 1u);
  EXPECT_EQ(byApp[0].first, hCard);

  // Attach: an empty reader has no token, whatever the criteria.
  s.put_SlotHandle(hEmpty);
  for (DWORD c : {0x08u, 0x0Au}) {
    s.put_AttachCriteria(c);
    EXPECT_EQ(s.Attach(), CSlotsDefs::ERR_NO_TOKEN) << c;
  }
  s.put_SlotHandle(hCard);
  s.put_AttachCriteria(0x0A);
  ASSERT_EQ(s.Attach(), 0);
  BSTR name = nullptr;
  ASSERT_EQ(s.get_SlotName(&name), 0);
  EXPECT_EQ(vexa::BstrToUtf8(name).value_or(""), readers[0]);
  SysFreeString(name);

  // An application the card does not hold: the card's SELECT status, negated.
  const std::vector<WCHAR> otherAid = {0xA0, 0x00, 0x00, 0x00, 0x99};
  CSlots o;
  o.put_SlotHandle(hCard);
  o.put_AID(otherAid.data(), 5);
  o.put_AttachCriteria(0x0A);
  EXPECT_EQ(o.Attach(), -0x6A82);

  long len = 0;
  BSTR uid = nullptr;
  ASSERT_EQ(s.get_UID(&len, &uid), 0);
  EXPECT_EQ(len, 7);
  EXPECT_EQ(Bytes(uid), (std::vector<BYTE>{0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));

  const std::vector<WCHAR> atr = {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x05, 0x13};
  EXPECT_EQ(s.IsSameATR(hCard, atr.data(), static_cast<long>(atr.size())), 1);
  EXPECT_EQ(s.IsSameATR(hCard, atr.data(), static_cast<long>(atr.size()) - 1), 0);
  EXPECT_EQ(s.IsSameATR(hEmpty, atr.data(), static_cast<long>(atr.size())), 0);

  BSTR rnd = nullptr;
  long rlen = 300;  // more than one GET CHALLENGE
  ASSERT_EQ(s.get_Random(&rnd, &rlen), 0);
  EXPECT_EQ(rlen, 300);
  EXPECT_EQ(Bytes(rnd).size(), 300u);

  const std::vector<WCHAR> key = {'M', 'O', 'D', 'E', 'L'}, value = {'X', 0xFF};
  BSTR got = nullptr;
  long glen = 0;
  EXPECT_EQ(s.GetAttribute(key.data(), 5, &got, &glen), CSlotsDefs::ERR_NO_ATTRIBUTE_FOUND);
  ASSERT_EQ(s.SetAttribute(key.data(), 5, value.data(), 2), 0);
  ASSERT_EQ(s.GetAttribute(key.data(), 5, &got, &glen), 0);
  EXPECT_EQ(Bytes(got), (std::vector<BYTE>{'X', 0xFF}));

  DWORD total = 77;
  EXPECT_EQ(s.get_TotalMemory(hCard, &total), 0);
  EXPECT_EQ(total, 77u) << "only the M4.20 family reports its memory";
  BOOL flag = 9;
  EXPECT_EQ(s.IsSecAuthProtected(hCard, &flag), 0);
  EXPECT_EQ(flag, FALSE);

  // The card directory is not loaded by this engine yet: saying so beats a fake success.
  const std::vector<WCHAR> gdo = {0x00, 0x01};
  s.put_GDO(gdo.data(), 2);
  s.put_AttachCriteria(0x0E);
  EXPECT_EQ(s.Attach(), CSlotsDefs::ERR_NOT_SUPPORTED);

  // Counting: only the call that finds the count at 1 releases the table.
  ASSERT_EQ(s.LoadSlots(0), 0);
  ASSERT_EQ(s.UnloadSlots(), 0);
  EXPECT_NE(CSlots::FindSlot(hCard), nullptr);
  ASSERT_EQ(s.UnloadSlots(), 0);
  EXPECT_EQ(CSlots::FindSlot(hCard), nullptr);
  EXPECT_FALSE(CSlots::AlreadyLoaded());

  const std::string t = env->TraceText();
  for (const char* line : {"IN  -> CSlots::LoadSlots\n", "OUT -> CSlots::Attach\n",
                           "OUT -> CSlots::Attach - ERR_NO_TOKEN\n", "OUT -> CSlots::Attach - SW_6A82\n"})
    EXPECT_NE(t.find(line), std::string::npos) << line;
}

TEST_F(CardSlots, RemovalAndInsertionReachTheTableAndWakeWaiters) {
  auto cardA = std::make_unique<VirtualCard>(*s_bed, readers[0], Image("a", "M4.10"));
  CSlots s;
  ASSERT_EQ(s.LoadSlots(0), 0);
  const DWORD h = HandleOf(s, readers[0]);
  ASSERT_EQ(StateOf(h), 8u);
  s.put_SlotHandle(h);
  long len = 0;
  BSTR uid = nullptr;
  ASSERT_EQ(s.get_UID(&len, &uid), 0);  // remembered for IsSameToken
  SysFreeString(uid);
  DWORD same_h = h;
  BOOL same = FALSE;
  ASSERT_EQ(s.IsSameToken(&same_h, &same), 0);
  EXPECT_TRUE(same);

  CSlots w;
  auto removal = BlockedWaiter(w);
  cardA->Remove();
  ASSERT_EQ(removal.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto [rcR, indexR] = removal.get();
  EXPECT_EQ(rcR, 0);
  EXPECT_EQ(indexR, static_cast<long>(CSlot::IndexOf(h)));
  cardA.reset();

  EXPECT_EQ(CSlots::FindSlot(h), nullptr) << "the old handle is stale";
  DWORD h2 = h;
  same = TRUE;
  ASSERT_EQ(s.IsSameToken(&h2, &same), 0);
  EXPECT_FALSE(same);
  EXPECT_EQ(h2, h + 0x100) << "generation raised by one";
  EXPECT_EQ(StateOf(h2), 4u);
  DWORD state = 0;
  EXPECT_EQ(s.get_TokenState(&state), CSlotsDefs::ERR_NO_TOKEN) << "state query with the stale handle";

  // Another card (another UID) in the same reader.
  auto insertion = BlockedWaiter(w);
  VirtualCard cardB(*s_bed, readers[0], Image("b", "M4.10", {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}));
  ASSERT_EQ(insertion.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(insertion.get(), std::make_pair(0L, static_cast<long>(CSlot::IndexOf(h))));
  EXPECT_EQ(StateOf(h2), 8u) << "the token is open when the waiter wakes";

  // Same handle, but the UID that s remembers is card A's.
  DWORD h3 = h2;
  same = TRUE;
  ASSERT_EQ(s.IsSameToken(&h3, &same), 0);
  EXPECT_FALSE(same);
  EXPECT_EQ(h3, h2);
  s.put_SlotHandle(h2);
  ASSERT_EQ(s.get_UID(&len, &uid), 0);
  EXPECT_EQ(Bytes(uid), (std::vector<BYTE>{0x05, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}));
  ASSERT_EQ(s.IsSameToken(&h3, &same), 0);
  EXPECT_TRUE(same);

  // An insertion reported while the token is open (its removal was never
  // reported): the old token is closed first, so the handle moves on.
  vexa::kernel::SlotEventCallback(readers[0].c_str(), CARD_EVENT_INSERTED);
  EXPECT_EQ(CSlots::FindSlot(h2), nullptr);
  EXPECT_EQ(StateOf(h2 + 0x100), 8u);
  ASSERT_EQ(s.UnloadSlots(), 0);
}

TEST_F(CardSlots, NonBlockingWaitSeesAnEventThatCameBetweenPolls) {
  auto card = std::make_unique<VirtualCard>(*s_bed, readers[1], Image("nb", "M4.20"));
  CSlots s;
  ASSERT_EQ(s.LoadSlots(0), 0);
  const DWORD h = HandleOf(s, readers[1]);
  long index = 0;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(s.get_SlotEvent(&index, FALSE), 0);
  EXPECT_EQ(index, -1);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(190));

  card->Remove();
  // Polls until the removal has been seen (each poll waits at most 200 ms).
  ASSERT_TRUE(WaitFor([&] { return s.get_SlotEvent(&index, FALSE) == 0 && index != -1; }));
  EXPECT_EQ(index, static_cast<long>(CSlot::IndexOf(h)));
  EXPECT_EQ(StateOf(h + 0x100), 4u);
  ASSERT_EQ(s.UnloadSlots(), 0);
}

TEST_F(CardSlots, TokenVersionOfEveryCardOs) {
  struct Case {
    const char* version;
    long major, minor;
  };
  const Case cases[] = {{"M3", 3, 0},       {"M4.0", 4, 0},      {"M4.01", 4, 1},
                        {"M4.01a", 4, 2},   {"M4.10", 4, 10},    {"M4.20", 4, 20},
                        {"M4.2b", 4, 43},   {"M4.2b-0A", 4, 43}, {"M4.40", 4, 40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    VirtualCard card(*s_bed, readers[0], Image(std::string("v") + c.version, c.version));
    card.ClearLog();  // the reader's log also holds the earlier cards' commands
    CSlots s;
    ASSERT_EQ(s.LoadSlots(0), 0);
    const DWORD h = HandleOf(s, readers[0]);
    ASSERT_EQ(StateOf(h), 8u);
    s.put_SlotHandle(h);
    long major = -1, minor = -1;
    ASSERT_EQ(s.get_TokenVersion(&major, &minor), 0);
    EXPECT_EQ(major, c.major);
    EXPECT_EQ(minor, c.minor);
    ASSERT_EQ(s.get_TokenVersion(&major, &minor), 0);  // from the cache
    if (std::string(c.version) == "M4.20") {
      DWORD total = 0;
      EXPECT_EQ(s.get_TotalMemory(h, &total), 0);
      EXPECT_EQ(total, 64000u);
    }
    int versionQueries = 0;
    for (const auto& e : card.Log()) {
      const std::vector<uint8_t> q = {0x00, 0xCA, 0x01, 0x82};
      if (e.command.size() >= 4 && std::equal(q.begin(), q.end(), e.command.begin())) ++versionQueries;
    }
    EXPECT_EQ(versionQueries, 1) << "one version query per connection";
    ASSERT_EQ(s.UnloadSlots(), 0);
  }
}

TEST_F(CardSlots, UnrecognisedCardOsVersionGivesErrGeneric) {
  std::string path = Image("unknown", "M4.10");
  {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string patched =
        std::regex_replace(ss.str(), std::regex("versionbytes [0-9A-Fa-f]+"), "versionbytes C80F");
    ASSERT_NE(patched, ss.str());
    std::ofstream(path, std::ios::trunc) << patched;
  }
  VirtualCard card(*s_bed, readers[0], path);
  CSlots s;
  ASSERT_EQ(s.LoadSlots(0), 0);
  const DWORD h = HandleOf(s, readers[0]);
  EXPECT_EQ(StateOf(h), 8u) << "still a token";
  s.put_SlotHandle(h);
  long major = -1, minor = -1;
  EXPECT_EQ(s.get_TokenVersion(&major, &minor), CSlotsDefs::ERR_GENERIC);
  EXPECT_EQ(major, -1);
  ASSERT_EQ(s.UnloadSlots(), 0);
}

TEST_F(CardSlots, ReleaseWhileCardsComeAndGo) {
  auto card = std::make_unique<VirtualCard>(*s_bed, readers[0], Image("r", "M4.10"));
  CSlots s;
  ASSERT_EQ(s.LoadSlots(0), 0);
  // Insertion of a second card on another thread while the table is released.
  auto other = std::async(std::launch::async, [&] {
    VirtualCard c2(*s_bed, readers[1], Image("r2", "M4.0"));
    c2.Remove();
  });
  ASSERT_EQ(s.UnloadSlots(), 0);
  ASSERT_EQ(other.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  other.get();
  card->Remove();  // nobody watches any more: nothing reaches a table
  EXPECT_FALSE(CSlots::AlreadyLoaded());
  // A new table sees the readers as they are now.
  card->Insert();
  ASSERT_EQ(s.LoadSlots(0), 0);
  EXPECT_EQ(StateOf(HandleOf(s, readers[0])), 8u);
  EXPECT_EQ(StateOf(HandleOf(s, readers[1])), 6u);
  ASSERT_EQ(s.UnloadSlots(), 0);
}

TEST_F(CardSlots, ClientsKeepWorkingWhileTheCardComesAndGoes) {
  auto card = std::make_unique<VirtualCard>(*s_bed, readers[0], Image("busy", "M4.10"));
  CSlots s;
  ASSERT_EQ(s.LoadSlots(0), 0);
  std::atomic<bool> stop{false};
  std::atomic<int> calls{0};
  auto client = [&] {
    CSlots c;
    const auto aid = Wide(kAid);
    c.put_AID(aid.data(), static_cast<long>(aid.size()));
    while (!stop) {
      c.put_FindCriteria(CSlots::FIND_BY_APPLICATION | CSlots::FIND_BY_TOKEN);
      long index = 0;
      DWORD h = 0;
      if (c.Find(&index, &h) == 0) {
        BOOL same = FALSE;
        c.IsSameToken(&h, &same);
        c.put_AttachCriteria(0x0A);
        c.Attach();
        long len = 0;
        BSTR uid = nullptr;
        if (c.get_UID(&len, &uid) == 0) SysFreeString(uid);
        long major = 0, minor = 0;
        c.get_TokenVersion(&major, &minor);
      }
      DWORD state = 0;
      c.get_TokenState(&state);
      ++calls;
    }
  };
  std::vector<std::future<void>> clients;
  for (int i = 0; i < 2; ++i) clients.push_back(std::async(std::launch::async, client));
  for (int round = 0; round < 3; ++round) {
    card->Remove();
    card->Insert();
  }
  stop = true;
  for (auto& f : clients) ASSERT_EQ(f.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "deadlock";
  EXPECT_GT(calls.load(), 0);
  // The last insertion reaches the table (the monitoring thread may still be on it).
  ASSERT_TRUE(WaitFor([&] {
    CSlots c;
    c.put_FindCriteria(CSlots::FIND_BY_TOKEN);
    long index = 0;
    DWORD h = 0;
    return c.Find(&index, &h) == 0 && StateOf(h) == 8u && (h >> 8) == 3u;
  })) << "three removals: generation 3";
  ASSERT_EQ(s.UnloadSlots(), 0);
}
