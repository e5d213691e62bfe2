// A scripted card for unit tests of the command classes: a FakePcsc reader
// whose card answers the queries the command classes make on their own (card
// OS version, UID record, life cycle, challenge) and, for everything else, what
// the test scripts. Fixtures below are the bytes the commands must send,
// written out by hand.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/fake_pcsc.h"

namespace vexa::card::test {

using Bytes = std::vector<BYTE>;

inline Bytes Hex(const std::string& s) {
  Bytes out;
  std::string digits;
  for (char ch : s)
    if (std::isxdigit(static_cast<unsigned char>(ch))) digits += ch;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Seq(std::size_t n, BYTE start = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>(start + i);
  return b;
}

// The scripted card.
struct ScriptedCard {
  Bytes version = {0xC8, 0x05};  // M4.10
  BYTE lifeCycle = 0x20;
  // UID record: 3B, nine 00, serial 11..66, eight 00 (24 bytes).
  Bytes uid = Hex("3B 00 00 00 00 00 00 00 00 00 11 22 33 44 55 66 00 00 00 00 00 00 00 00");
  Bytes challenge = Hex("01 02 03 04 05 06 07 08");
  // Answers for other commands, taken in order; when empty the card answers 90 00.
  std::deque<Bytes> answers;
  // Called for other commands before the queue; a non-empty result is the answer.
  std::function<Bytes(const Bytes&)> handler;

  Bytes Answer(const Bytes& c) {
    auto ok = [](Bytes d) {
      d.push_back(0x90);
      d.push_back(0x00);
      return d;
    };
    if (c.size() >= 4 && c[1] == 0xCA && c[2] == 0x01) {
      if (c[3] == 0x82) return ok(version);
      if (c[3] == 0x81) return ok(uid);
      if (c[3] == 0x83) return ok({lifeCycle});
    }
    if (c.size() == 5 && c[1] == 0x84) {
      Bytes r;
      while (r.size() < c[4]) r.insert(r.end(), challenge.begin(), challenge.end());
      r.resize(c[4]);
      return ok(r);
    }
    if (handler) {
      Bytes r = handler(c);
      if (!r.empty()) return r;
    }
    if (!answers.empty()) {
      Bytes r = answers.front();
      answers.pop_front();
      return r;
    }
    return {0x90, 0x00};
  }
};

// A fake reader with the scripted card, and a connected command object.
template <class Card>
class FakeCardFixture : public ::testing::Test {
 protected:
  static constexpr const char* kReader = "Fake Reader 00 00";
  void SetUp() override {
    m_pcsc.AddReader(kReader, true);
    m_pcsc.SetCardFn([this](const Bytes& c) { return m_card.Answer(c); });
    ASSERT_TRUE(m_obj.InitRM());
    ASSERT_EQ(m_obj.Connect(kReader), SCARD_S_SUCCESS);
  }
  // The commands sent since the last call.
  std::vector<Bytes> Sent() {
    auto all = m_pcsc.Sent();
    std::vector<Bytes> out(all.begin() + static_cast<long>(m_seen), all.end());
    m_seen = all.size();
    return out;
  }
  void Forget() { Sent(); }

  FakePcsc m_pcsc;
  ScriptedCard m_card;
  Card m_obj;
  std::size_t m_seen = 0;
};

}  // namespace vexa::card::test
