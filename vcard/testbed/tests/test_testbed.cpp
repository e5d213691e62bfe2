// The test bed itself, against the real pcscd and vpcd driver, with the
// stand-in card program: readers by name, insertion and removal as PC/SC sees
// them, the card's APDU log, and two test beds (two processes) at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "vexa/testbed/testbed.h"

extern char** environ;

namespace fs = std::filesystem;
using vexa::testbed::PcscTestbed;
using vexa::testbed::VirtualCard;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

const Bytes kSelect = {0x00, 0xA4, 0x04, 0x00, 0x08, 0xA0, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04};
const Bytes kSelectOk = {0x6F, 0x03, 0x84, 0x01, 0x01, 0x90, 0x00};

// One PC/SC connection to a reader.
class Connection {
 public:
  explicit Connection(const std::string& reader) {
    EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &m_ctx), SCARD_S_SUCCESS);
    m_rv = SCardConnect(m_ctx, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &m_card,
                        &m_proto);
  }
  ~Connection() {
    if (m_rv == SCARD_S_SUCCESS) SCardDisconnect(m_card, SCARD_LEAVE_CARD);
    SCardReleaseContext(m_ctx);
  }
  LONG ConnectResult() const { return m_rv; }
  SCARDHANDLE Handle() const { return m_card; }
  const SCARD_IO_REQUEST* Pci() const { return m_proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0; }
  Bytes Transmit(const Bytes& cmd) {
    BYTE rsp[300];
    DWORD len = sizeof rsp;
    const SCARD_IO_REQUEST* pci = m_proto == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    const LONG rv = SCardTransmit(m_card, pci, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr, rsp, &len);
    EXPECT_EQ(rv, SCARD_S_SUCCESS) << pcsc_stringify_error(rv);
    return rv == SCARD_S_SUCCESS ? Bytes(rsp, rsp + len) : Bytes{};
  }
  Bytes Atr() {
    BYTE atr[MAX_ATR_SIZE];
    DWORD atrLen = sizeof atr, state = 0, proto = 0, nameLen = 0;
    EXPECT_EQ(SCardStatus(m_card, nullptr, &nameLen, &state, &proto, atr, &atrLen), SCARD_S_SUCCESS);
    return Bytes(atr, atr + atrLen);
  }

 private:
  SCARDCONTEXT m_ctx = 0;
  SCARDHANDLE m_card = 0;
  DWORD m_proto = 0;
  LONG m_rv = SCARD_E_UNEXPECTED;
};

// The reader's current PC/SC state, as another client sees it.
DWORD ReaderState(const std::string& reader) {
  SCARDCONTEXT ctx;
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
  SCARD_READERSTATE rs{};
  rs.szReader = reader.c_str();
  rs.dwCurrentState = SCARD_STATE_UNAWARE;
  EXPECT_EQ(SCardGetStatusChange(ctx, 0, &rs, 1), SCARD_S_SUCCESS);
  SCardReleaseContext(ctx);
  return rs.dwEventState;
}

std::vector<std::string> ListedReaders() {
  SCARDCONTEXT ctx;
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx), SCARD_S_SUCCESS);
  char buf[2048];
  DWORD len = sizeof buf;
  EXPECT_EQ(SCardListReaders(ctx, nullptr, buf, &len), SCARD_S_SUCCESS);
  SCardReleaseContext(ctx);
  std::vector<std::string> names;
  for (const char* p = buf; *p; p += std::strlen(p) + 1) names.emplace_back(p);
  return names;
}

// True when the process (not a child of ours) ends within the limit.
bool ProcessEnds(pid_t pid, int ms) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;  // already gone
  pollfd p{fd, POLLIN, 0};
  const bool ended = poll(&p, 1, ms) > 0;
  close(fd);
  return ended;
}

// The peer program (its own test bed) with pipes to its stdin and stdout.
class Peer {
 public:
  Peer() {
    int in[2], out[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    char* argv[] = {const_cast<char*>(VEXA_TESTBED_PEER), nullptr};
    // The peer builds its own bed: it must not inherit this process's socket.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("PCSCLITE_CSOCK_NAME=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&m_pid, argv[0], &fa, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
  }
  ~Peer() {
    CloseInput();
    if (m_stdout >= 0) close(m_stdout);
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  // Reads "key value" lines until "ready" (time limit); false on failure.
  bool ReadUntilReady(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::string buf;
    while (Clock::now() < deadline) {
      pollfd p{m_stdout, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (poll(&p, 1, static_cast<int>(std::max<long>(left, 0))) <= 0) return false;
      char c[256];
      const ssize_t n = read(m_stdout, c, sizeof c);
      if (n <= 0) return false;
      buf.append(c, static_cast<std::size_t>(n));
      std::size_t nl;
      while ((nl = buf.find('\n')) != std::string::npos) {
        const std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        if (line == "ready") return true;
        const auto sp = line.find(' ');
        if (sp != std::string::npos) values[line.substr(0, sp)] = line.substr(sp + 1);
      }
    }
    return false;
  }
  void CloseInput() {
    if (m_stdin >= 0) close(m_stdin);
    m_stdin = -1;
  }
  // The exit status, or -1 when it has not ended within the limit.
  int WaitExit(int ms) {
    if (!ProcessEnds(m_pid, ms)) return -1;
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t Pid() const { return m_pid; }
  std::map<std::string, std::string> values;

 private:
  pid_t m_pid = -1;
  int m_stdin = -1, m_stdout = -1;
};

class TestbedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("VEXA_VCARD_PROGRAM", VEXA_VCARD_FAKE_PROGRAM, 1);
    s_bed = std::make_unique<PcscTestbed>(2);
  }
  static void TearDownTestSuite() { s_bed.reset(); }
  std::string Image(const std::string& name, const std::string& atr) {
    const std::string path = s_bed->Dir() + "/" + name;
    std::ofstream(path) << "atr=" << atr << "\n";
    return path;
  }
  static std::unique_ptr<PcscTestbed> s_bed;
};
std::unique_ptr<PcscTestbed> TestbedTest::s_bed;

TEST_F(TestbedTest, ListsEveryReaderByNameWithItsOwnPorts) {
  const std::vector<std::string> expected = {"Vexa Reader A 00 00", "Vexa Reader A 00 01", "Vexa Reader B 00 00",
                                             "Vexa Reader B 00 01"};
  EXPECT_EQ(s_bed->ReaderNames(), expected);
  auto listed = ListedReaders();
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);  // pcscd lists them, in an order of its own

  EXPECT_EQ(s_bed->Port("Vexa Reader A 00 01"), s_bed->Port("Vexa Reader A 00 00") + 1);
  EXPECT_EQ(s_bed->Port("Vexa Reader B 00 01"), s_bed->Port("Vexa Reader B 00 00") + 1);
  EXPECT_NE(s_bed->Port("Vexa Reader A 00 00"), s_bed->Port("Vexa Reader B 00 00"));
  EXPECT_THROW(s_bed->Port("Vexa Reader C 00 00"), std::out_of_range);
  EXPECT_EQ(std::string(getenv("PCSCLITE_CSOCK_NAME")), s_bed->SocketPath());
  EXPECT_TRUE(fs::is_socket(s_bed->SocketPath()));
  EXPECT_TRUE(fs::is_directory(s_bed->Dir()));
}

TEST_F(TestbedTest, InsertionAndRemovalAreSeenByPcsc) {
  const std::string reader = "Vexa Reader B 00 01";
  EXPECT_TRUE(ReaderState(reader) & SCARD_STATE_EMPTY);
  VirtualCard card(*s_bed, reader, Image("b1.img", "3B02AABB"));
  EXPECT_TRUE(card.Inserted());
  EXPECT_TRUE(ReaderState(reader) & SCARD_STATE_PRESENT);
  EXPECT_TRUE(ReaderState("Vexa Reader B 00 00") & SCARD_STATE_EMPTY);  // its neighbour stays empty
  {
    Connection c(reader);
    ASSERT_EQ(c.ConnectResult(), SCARD_S_SUCCESS);
    EXPECT_EQ(c.Atr(), (Bytes{0x3B, 0x02, 0xAA, 0xBB}));
    EXPECT_EQ(c.Transmit(kSelect), kSelectOk);
  }
  card.Remove();
  EXPECT_FALSE(card.Inserted());
  EXPECT_TRUE(ReaderState(reader) & SCARD_STATE_EMPTY);
  EXPECT_EQ(Connection(reader).ConnectResult(), SCARD_E_NO_SMARTCARD);
  card.Remove();  // harmless when already out

  card.Insert();
  EXPECT_TRUE(ReaderState(reader) & SCARD_STATE_PRESENT);
  Connection again(reader);
  ASSERT_EQ(again.ConnectResult(), SCARD_S_SUCCESS);
  EXPECT_EQ(again.Transmit(kSelect), kSelectOk);
}

TEST_F(TestbedTest, TheLogShowsEachCommandWithItsResponseInOrder) {
  VirtualCard card(*s_bed, "Vexa Reader A 00 00", Image("a0.img", "3B02A000"));
  Connection c("Vexa Reader A 00 00");
  ASSERT_EQ(c.ConnectResult(), SCARD_S_SUCCESS);
  const Bytes echo = {0x80, 0x01, 0x00, 0x00, 0x02, 0xCA, 0xFE};
  const Bytes wrongAid = {0x00, 0xA4, 0x04, 0x00, 0x02, 0xA0, 0x01};
  EXPECT_EQ(c.Transmit(kSelect), kSelectOk);
  EXPECT_EQ(c.Transmit(echo), (Bytes{0xCA, 0xFE, 0x90, 0x00}));
  EXPECT_EQ(c.Transmit(wrongAid), (Bytes{0x6A, 0x82}));
  auto log = card.Log();  // read at once: the card logs before it answers
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].command, kSelect);
  EXPECT_EQ(log[0].response, kSelectOk);
  EXPECT_EQ(log[1].command, echo);
  EXPECT_EQ(log[1].response, (Bytes{0xCA, 0xFE, 0x90, 0x00}));
  EXPECT_EQ(log[2].command, wrongAid);
  EXPECT_EQ(log[2].response, (Bytes{0x6A, 0x82}));

  card.ClearLog();
  EXPECT_TRUE(card.Log().empty());
  EXPECT_EQ(c.Transmit(echo), (Bytes{0xCA, 0xFE, 0x90, 0x00}));
  ASSERT_EQ(card.Log().size(), 1u);
  EXPECT_EQ(card.Log()[0].command, echo);
}

TEST_F(TestbedTest, CardsInSeveralReadersKeepTheirOwnLogs) {
  VirtualCard a0(*s_bed, "Vexa Reader A 00 00", Image("x0.img", "3B02A000"));
  VirtualCard a1(*s_bed, "Vexa Reader A 00 01", Image("x1.img", "3B02A001"));
  VirtualCard b0(*s_bed, "Vexa Reader B 00 00", Image("x2.img", "3B02B000"));
  a0.ClearLog();
  std::map<std::string, uint8_t> tag = {{"Vexa Reader A 00 00", 0x10}, {"Vexa Reader A 00 01", 0x11},
                                        {"Vexa Reader B 00 00", 0x20}};
  for (const auto& [reader, t] : tag) {
    Connection c(reader);
    ASSERT_EQ(c.ConnectResult(), SCARD_S_SUCCESS) << reader;
    EXPECT_EQ(c.Atr().back(), t == 0x10 ? 0x00 : t == 0x11 ? 0x01 : 0x00);
    EXPECT_EQ(c.Transmit({0x80, 0x01, 0x00, 0x00, 0x01, t}), (Bytes{t, 0x90, 0x00}));
  }
  const std::pair<VirtualCard*, uint8_t> expect[] = {{&a0, 0x10}, {&a1, 0x11}, {&b0, 0x20}};
  for (const auto& [card, t] : expect) {
    auto log = card->Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, (Bytes{0x80, 0x01, 0x00, 0x00, 0x01, t}));
  }
  // Removing one card leaves the others in place.
  a1.Remove();
  EXPECT_TRUE(ReaderState("Vexa Reader A 00 00") & SCARD_STATE_PRESENT);
  EXPECT_TRUE(ReaderState("Vexa Reader B 00 00") & SCARD_STATE_PRESENT);
}

TEST_F(TestbedTest, ACardPulledMidCommandGivesNoResponseAndThenIsGone) {
  const std::string reader = "Vexa Reader B 00 00";
  VirtualCard card(*s_bed, reader, Image("pull.img", "3B02B000"));
  card.InsertPullingOutOn(0xB0);  // replaces the card just inserted
  EXPECT_TRUE(card.Inserted());
  card.ClearLog();
  {
    Connection c(reader);
    ASSERT_EQ(c.ConnectResult(), SCARD_S_SUCCESS);
    EXPECT_EQ(c.Transmit(kSelect), kSelectOk);
    BYTE rsp[64];
    DWORD len = sizeof rsp;
    const Bytes read = {0x00, 0xB0, 0x00, 0x00, 0x10};
    const LONG rv = SCardTransmit(c.Handle(), c.Pci(), read.data(), read.size(), nullptr, rsp, &len);
    // What the driver reports for a card gone mid-command: no status word.
    EXPECT_TRUE(rv != SCARD_S_SUCCESS || len < 2) << pcsc_stringify_error(rv) << " " << len;
  }
  card.Remove();  // waits until pcscd has seen it go
  EXPECT_FALSE(card.Inserted());
  EXPECT_TRUE(ReaderState(reader) & SCARD_STATE_EMPTY);
  ASSERT_EQ(card.Log().size(), 1u);  // the SELECT; the pulled command has no answer
  card.Insert();                     // a normal card again
  Connection again(reader);
  ASSERT_EQ(again.ConnectResult(), SCARD_S_SUCCESS);
  EXPECT_EQ(again.Transmit({0x00, 0xB0, 0x00, 0x00, 0x10}), (Bytes{0x6D, 0x00}));
}

TEST_F(TestbedTest, AOneByteCommandIsAnsweredAndTheCardStaysIn) {
  // pcscd passes a one-byte command on, and the driver frames it like a
  // control code: the card must answer it, not take it for a broken frame.
  const std::string reader = "Vexa Reader A 00 01";
  VirtualCard card(*s_bed, reader, Image("short.img", "3B02A001"));
  card.ClearLog();  // an earlier test's card in this reader logged there too
  Connection c(reader);
  ASSERT_EQ(c.ConnectResult(), SCARD_S_SUCCESS);
  EXPECT_EQ(c.Transmit({0x03}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(c.Transmit({0x00, 0xA4}), (Bytes{0x67, 0x00}));
  EXPECT_EQ(c.Transmit(kSelect), kSelectOk);
  EXPECT_TRUE(card.Inserted());
  ASSERT_EQ(card.Log().size(), 3u);
  EXPECT_EQ(card.Log()[0].command, Bytes{0x03});
}

TEST_F(TestbedTest, ABadCardImageFailsTheInsertionWithTheCardsOwnMessage) {
  const std::string image = s_bed->Dir() + "/bad.img";
  std::ofstream(image) << "atr=3B0\n";
  try {
    VirtualCard card(*s_bed, "Vexa Reader A 00 01", image);
    FAIL() << "the insertion did not fail";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("card image"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(ReaderState("Vexa Reader A 00 01") & SCARD_STATE_EMPTY);
  EXPECT_THROW(VirtualCard(*s_bed, "No Such Reader 00 00", image), std::out_of_range);
}

TEST_F(TestbedTest, OneProcessHasOneTestBedAtATime) {
  EXPECT_THROW(PcscTestbed second(1), std::logic_error);
  EXPECT_THROW(PcscTestbed tooMany(9), std::invalid_argument);
}

TEST_F(TestbedTest, TwoTestBedsRunAtOnceAndEachStopsItsOwnPcscd) {
  VirtualCard card(*s_bed, "Vexa Reader A 00 00", Image("mine.img", "3B02A000"));
  card.ClearLog();
  Peer peer;
  ASSERT_TRUE(peer.ReadUntilReady(30000)) << "the peer test bed did not start";
  EXPECT_NE(peer.values["socket"], s_bed->SocketPath());
  const int peerPort = std::stoi(peer.values["port"]);
  for (const auto& r : s_bed->ReaderNames()) EXPECT_NE(s_bed->Port(r), peerPort);
  EXPECT_EQ(peer.values["select"], "6F038401019000");

  // Both daemons serve at the same time; each card sees only its own client.
  Connection c("Vexa Reader A 00 00");
  ASSERT_EQ(c.ConnectResult(), SCARD_S_SUCCESS);
  EXPECT_EQ(c.Atr(), (Bytes{0x3B, 0x02, 0xA0, 0x00}));  // not the peer's 3B0299AA
  EXPECT_EQ(c.Transmit(kSelect), kSelectOk);
  ASSERT_EQ(card.Log().size(), 1u);

  // The peer ends: its pcscd is stopped by its pid and its folder removed,
  // while this bed goes on serving.
  const pid_t peerPcscd = std::stoi(peer.values["pcscd"]);
  peer.CloseInput();
  EXPECT_EQ(peer.WaitExit(20000), 0);
  EXPECT_TRUE(ProcessEnds(peerPcscd, 1000));
  EXPECT_FALSE(fs::exists(peer.values["dir"]));
  EXPECT_FALSE(fs::exists(peer.values["socket"]));
  EXPECT_EQ(c.Transmit(kSelect), kSelectOk);
}

TEST_F(TestbedTest, ATestProgramThatDiesLeavesNoPcscdBehind) {
  Peer peer;
  ASSERT_TRUE(peer.ReadUntilReady(30000)) << "the peer test bed did not start";
  const pid_t peerPcscd = std::stoi(peer.values["pcscd"]);
  ASSERT_EQ(kill(peerPcscd, 0), 0);
  kill(peer.Pid(), SIGKILL);  // no destructor runs
  EXPECT_EQ(peer.WaitExit(5000), 128 + SIGKILL);
  EXPECT_TRUE(ProcessEnds(peerPcscd, 15000)) << "pcscd " << peerPcscd << " outlived its test program";
  std::error_code ec;
  fs::remove_all(peer.values["dir"], ec);
  fs::remove(peer.values["socket"], ec);
}

}  // namespace
