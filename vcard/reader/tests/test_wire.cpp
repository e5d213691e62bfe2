#include <gtest/gtest.h>

#include "vexa/vcard/reader/wire.h"

using vexa::vcard::reader::Bytes;
using vexa::vcard::reader::EncodeFrame;
using vexa::vcard::reader::FrameDecoder;

TEST(FrameDecoder, CutsAStreamIntoPayloadsWhateverThePieces) {
  // Power on, get ATR, then SELECT 3F00: frames written out by hand.
  const Bytes stream = {0x00, 0x01, 0x01,                                      // power on
                        0x00, 0x01, 0x04,                                      // get ATR
                        0x00, 0x07, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00};  // SELECT
  const std::vector<Bytes> expected = {{0x01}, {0x04}, {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}};
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{5}, stream.size()}) {
    SCOPED_TRACE(piece);
    FrameDecoder decoder;
    std::vector<Bytes> got;
    for (std::size_t i = 0; i < stream.size(); i += piece) {
      decoder.Feed(std::span(stream).subspan(i, std::min(piece, stream.size() - i)));
      while (auto p = decoder.Next()) got.push_back(*p);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(decoder.Pending(), 0u);
  }
}

TEST(FrameDecoder, HoldsAnIncompleteFrameAndHandsOutEmptyAndLongestOnes) {
  FrameDecoder decoder;
  decoder.Feed(Bytes{0x00});
  EXPECT_FALSE(decoder.Next());
  decoder.Feed(Bytes{0x03, 0xAA, 0xBB});
  EXPECT_FALSE(decoder.Next());  // one byte of the payload is still missing
  EXPECT_EQ(decoder.Pending(), 4u);
  decoder.Feed(Bytes{0xCC, 0x00, 0x00});
  EXPECT_EQ(decoder.Next(), (Bytes{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(decoder.Next(), Bytes{});  // a zero-length frame is a payload too
  EXPECT_FALSE(decoder.Next());

  Bytes longest = {0xFF, 0xFF};
  longest.resize(2 + 0xFFFF, 0x5A);
  decoder.Feed(longest);
  auto payload = decoder.Next();
  ASSERT_TRUE(payload);
  EXPECT_EQ(payload->size(), 0xFFFFu);
}

TEST(EncodeFrame, PrefixesTheBigEndianLengthAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(EncodeFrame(Bytes{0x90, 0x00}), (Bytes{0x00, 0x02, 0x90, 0x00}));
  EXPECT_EQ(EncodeFrame(Bytes{}), (Bytes{0x00, 0x00}));
  auto big = EncodeFrame(Bytes(0x0102, 0x11));
  ASSERT_TRUE(big);
  EXPECT_EQ((*big)[0], 0x01);
  EXPECT_EQ((*big)[1], 0x02);
  EXPECT_EQ(big->size(), 0x0104u);
  EXPECT_TRUE(EncodeFrame(Bytes(0xFFFF)));
  EXPECT_FALSE(EncodeFrame(Bytes(0x10000)));  // the length would wrap to 0
}
