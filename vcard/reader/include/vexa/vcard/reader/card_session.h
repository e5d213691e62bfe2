// What the card does with each frame payload from the reader driver: control
// codes drive the card OS's power state and ATR, command APDUs go to the card
// OS, and every command is logged with its response before the answer leaves.
#pragma once

#include <optional>
#include <string>

#include "vexa/vcard/card_os.h"
#include "vexa/vcard/reader/apdu_log.h"
#include "vexa/vcard/reader/wire.h"

namespace vexa::vcard::reader {

// Status word sent when the card OS fails inside (e.g. it cannot write its
// image) or its response does not fit in a frame: "no precise diagnosis".
inline constexpr uint8_t kSwInternalError[] = {0x6F, 0x00};

struct FrameResult {
  enum class Action {
    kNone,   // nothing to send (power off, power on, reset)
    kReply,  // send reply as one frame
    kClose,  // the payload is not a valid frame: close the connection
    kPull,   // the card leaves in the middle of the command: close, no answer
  };
  Action action = Action::kNone;
  Bytes reply;
  std::string reason;  // why the connection is closed
};

class CardSession {
 public:
  // card and log must outlive the session.
  CardSession(ICardOs& card, ApduLogWriter& log) : m_card(card), m_log(log) {}

  // Simulates a card pulled out mid-command: the first command APDU with this
  // INS gets no answer and the connection closes (the driver then reports a
  // response of 0 bytes and the removal).
  void PullOutOnInstruction(uint8_t ins) { m_pullIns = ins; }

  // One frame payload in. An empty payload is not something the driver sends:
  // the answer is to close the connection. One byte other than a control code
  // is a client's one-byte command (the driver frames it the same way) and,
  // like any command shorter than a header, goes to the card OS, which answers
  // it with a status word as a card would. Never throws.
  FrameResult HandlePayload(const Bytes& payload);

 private:
  FrameResult HandleControl(const Bytes& payload);
  FrameResult HandleCommand(const Bytes& apdu);
  ICardOs& m_card;
  ApduLogWriter& m_log;
  std::optional<uint8_t> m_pullIns;
};

}  // namespace vexa::vcard::reader
