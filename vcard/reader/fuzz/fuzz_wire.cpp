// Feeds arbitrary driver bytes through the frame decoder and the card session
// (over the stand-in card OS): nothing may crash, whatever the framing.
#include <cstddef>
#include <cstdint>

#include "fake_card_os.h"
#include "vexa/vcard/reader/card_session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexa::vcard::reader;
  vexa::vcard::testing::FakeCardOs card(vexa::vcard::testing::FakeCardOs::DefaultAtr(),
                                        vexa::vcard::testing::FakeCardOs::DefaultAid());
  ApduLogWriter log;
  CardSession session(card, log);
  FrameDecoder decoder;
  // Split the input in two pieces at a point chosen by its first byte.
  const size_t cut = size ? data[0] % (size + 1) : 0;
  decoder.Feed(std::span<const uint8_t>(data, cut));
  for (int round = 0; round < 2; ++round) {
    while (auto payload = decoder.Next()) {
      FrameResult r = session.HandlePayload(*payload);
      if (r.action == FrameResult::Action::kClose) return 0;
      if (r.action == FrameResult::Action::kReply && !EncodeFrame(r.reply)) __builtin_trap();
    }
    decoder.Feed(std::span<const uint8_t>(data + cut, size - cut));
  }
  return 0;
}
