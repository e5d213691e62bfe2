// The vexa-vcard program (over the stand-in card OS) against a stand-in reader
// driver listening on a loopback port: framing, control codes, the log, the
// stop signal and malformed frames. Every wait has a time limit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "vexa/vcard/reader/apdu_log.h"

extern char** environ;

namespace fs = std::filesystem;
using vexa::vcard::reader::Bytes;
using vexa::vcard::reader::ParseApduLog;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWaitMs = 10000;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
  Fd& operator=(Fd&& o) noexcept {
    Reset();
    m_fd = o.m_fd;
    o.m_fd = -1;
    return *this;
  }
  void Reset() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
  }
  int get() const { return m_fd; }

 private:
  int m_fd;
};

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

// Reads exactly n bytes; nothing on end of stream or time-out.
std::optional<Bytes> ReadExact(int fd, std::size_t n, int ms = kWaitMs) {
  Bytes out;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !WaitReadable(fd, static_cast<int>(left))) return std::nullopt;
    uint8_t buf[4096];
    const ssize_t r = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
    if (r <= 0) return std::nullopt;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

// True when the peer closes the connection within the time limit.
bool SeesEndOfStream(int fd) {
  if (!WaitReadable(fd, kWaitMs)) return false;
  uint8_t b;
  return recv(fd, &b, 1, 0) <= 0;
}

class StandInDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vexa-vcardprog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    m_image = m_dir / "card.img";
    std::ofstream(m_image) << "atr=3B0214AB\n";
    m_log = m_dir / "apdu.log";
    m_listen = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(m_listen.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(m_listen.get(), 1), 0);
    socklen_t len = sizeof a;
    getsockname(m_listen.get(), reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
  }
  void TearDown() override {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    fs::remove_all(m_dir);
  }

  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {VEXA_VCARD_FAKE_PROGRAM, "--port", std::to_string(m_port),
                                     "--image", m_image.string(), "--log", m_log.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  }
  void Accept() {
    ASSERT_TRUE(WaitReadable(m_listen.get(), kWaitMs)) << "the card did not connect";
    m_conn = Fd(accept4(m_listen.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_GE(m_conn.get(), 0);
  }
  void Send(const Bytes& raw) { ASSERT_EQ(send(m_conn.get(), raw.data(), raw.size(), MSG_NOSIGNAL), (ssize_t)raw.size()); }
  // Sends one payload as a frame and reads the answer frame.
  std::optional<Bytes> Exchange(const Bytes& payload) {
    Bytes frame = {static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    Send(frame);
    auto head = ReadExact(m_conn.get(), 2);
    if (!head) return std::nullopt;
    return ReadExact(m_conn.get(), (std::size_t{(*head)[0]} << 8) | (*head)[1]);
  }
  // The exit status, or -1 when the program has not ended within the limit.
  int WaitExit(int ms = kWaitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
      int status = 0;
      const pid_t r = waitpid(m_pid, &status, WNOHANG);
      if (r == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      poll(nullptr, 0, 10);
    }
    return -1;
  }
  std::string ReadLog() {
    std::ifstream in(m_log);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path m_dir, m_image, m_log;
  Fd m_listen, m_conn;
  int m_port = 0;
  pid_t m_pid = -1;
};

TEST_F(StandInDriver, AnswersControlCodesAndCommandsAndLogsBeforeAnswering) {
  Start();
  Accept();
  EXPECT_EQ(Exchange({0x04}), (Bytes{0x3B, 0x02, 0x14, 0xAB}));  // ATR while powered off
  Send({0x00, 0x01, 0x01});                                       // power on: no answer
  EXPECT_EQ(Exchange({0x04}), (Bytes{0x3B, 0x02, 0x14, 0xAB}));
  const Bytes echo = {0x80, 0x01, 0x00, 0x00, 0x03, 0x0A, 0x0B, 0x0C};
  EXPECT_EQ(Exchange(echo), (Bytes{0x0A, 0x0B, 0x0C, 0x90, 0x00}));
  // The exchange is in the log as soon as its answer has arrived.
  auto log = ParseApduLog(ReadLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].command, echo);
  EXPECT_EQ(log[0].response, (Bytes{0x0A, 0x0B, 0x0C, 0x90, 0x00}));

  // 256 bytes of response data and a frame cut into single bytes.
  auto big = Exchange({0x80, 0x02, 0x00, 0x00, 0x00});
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size(), 258u);
  const Bytes frame = {0x00, 0x05, 0x80, 0x01, 0x00, 0x00, 0x00};
  for (uint8_t b : frame) Send({b});
  auto head = ReadExact(m_conn.get(), 4);
  EXPECT_EQ(head, (Bytes{0x00, 0x02, 0x90, 0x00}));

  EXPECT_EQ(kill(m_pid, SIGTERM), 0);  // removal
  EXPECT_TRUE(SeesEndOfStream(m_conn.get()));
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(StandInDriver, AMalformedFrameClosesTheConnectionWithoutACrash) {
  Start();
  Accept();
  EXPECT_EQ(Exchange({0x04}), (Bytes{0x3B, 0x02, 0x14, 0xAB}));
  // A one-byte payload that is no control code is a client's short command:
  // answered, and the card stays in.
  EXPECT_EQ(Exchange({0x03}), (Bytes{0x67, 0x00}));
  Send({0x00, 0x00});  // an empty frame
  EXPECT_TRUE(SeesEndOfStream(m_conn.get()));
  EXPECT_EQ(WaitExit(), 1);
  EXPECT_NE(ReadLog().find("# connection closed: empty frame"), std::string::npos);
}

TEST_F(StandInDriver, ACardPulledMidCommandClosesWithoutAnAnswer) {
  Start({"--pull-on-ins", "B0"});
  Accept();
  EXPECT_EQ(Exchange({0x80, 0x01, 0x00, 0x00, 0x01, 0x42}), (Bytes{0x42, 0x90, 0x00}));
  Send({0x00, 0x05, 0x00, 0xB0, 0x00, 0x00, 0x10});
  EXPECT_TRUE(SeesEndOfStream(m_conn.get()));
  EXPECT_EQ(WaitExit(), 0);
  EXPECT_NE(ReadLog().find("# pulled out during a command with INS B0"), std::string::npos);
}

TEST_F(StandInDriver, EndsCleanlyWhenTheDriverCloses) {
  Start();
  Accept();
  EXPECT_EQ(Exchange({0x04}), (Bytes{0x3B, 0x02, 0x14, 0xAB}));
  Send({0x00, 0x10, 0x80});  // the driver goes away inside a frame
  m_conn.Reset();
  EXPECT_EQ(WaitExit(), 0);
}

TEST_F(StandInDriver, ReportsSetupFailuresByExitStatus) {
  std::ofstream(m_image) << "atr=3B0\n";  // odd hex: a malformed image
  Start();
  EXPECT_EQ(WaitExit(), 2);
  fs::remove(m_image);
  Start();
  EXPECT_EQ(WaitExit(), 2);
  std::ofstream(m_image) << "atr=3B00\n";
  m_listen.Reset();  // nothing listens on the port any more
  Start({"--connect-timeout", "0.2"});
  EXPECT_EQ(WaitExit(), 3);
}

TEST_F(StandInDriver, AStopSignalWhileWaitingForTheDriverEndsAtOnce) {
  m_listen.Reset();
  Start({"--connect-timeout", "60"});
  // Once it says it waits for the driver, a stop must not sit out the limit.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (ReadLog().find("# waiting for the reader driver") == std::string::npos && Clock::now() < deadline) {
    poll(nullptr, 0, 10);
  }
  ASSERT_NE(ReadLog().find("# waiting for the reader driver"), std::string::npos);
  EXPECT_EQ(kill(m_pid, SIGTERM), 0);
  EXPECT_EQ(WaitExit(5000), 0);
}

}  // namespace
