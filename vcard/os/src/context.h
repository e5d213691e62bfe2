// What a command handler works on: the persistent card state, the volatile
// session state of the powered card, and the command's logical channel.
#pragma once

#include <array>
#include <span>
#include <optional>
#include <set>
#include <vector>

#include "apdu.h"
#include "model.h"
#include "versions.h"

namespace vexa::vcard {

using Path = std::vector<uint16_t>;  // file identifiers from the MF

struct ChannelState {
  bool open = false;
  Path df;                           // current DF (empty when the card has no MF)
  std::optional<uint16_t> ef;        // current EF inside df
};

struct SessionState {
  std::array<ChannelState, 4> channels;
  std::set<uint8_t> verified;        // references of PINs verified since power-on
  Bytes challenge;                   // the last GET CHALLENGE answer
  bool challengeFresh = false;       // may still enter one protected command
  bool challengeIssuedNow = false;   // set by the GET CHALLENGE being processed
  SecureBytes chainBuffer;           // data of a chained VERIFY so far (PIN parts)
  std::optional<uint8_t> chainP2;
  uint8_t restoredSe = 0;            // security environment of the last MSE restore
  std::optional<uint8_t> signKey;    // MSE set B6
  std::optional<uint8_t> cipherKey;  // MSE set B8
  std::optional<Path> signKeyDf, cipherKeyDf;
  SecureBytes terminalRandom;        // GIVE RANDOM
  std::set<uint8_t> externallyAuthenticated;
  Bytes digestInfoPrefix;            // PUT DATA 02 C2 mode 1
  bool commandWasProtected = false;  // the command arrived under secure messaging
};

struct Context {
  CardState& st;
  SessionState& ses;
  const VersionInfo& ver;
  int channel = 0;
  bool dirty = false;                // persistent state changed: write the image

  ChannelState& Ch() { return ses.channels[static_cast<size_t>(channel)]; }
};

}  // namespace vexa::vcard
