// The card side of the virtual card: a simulator of the Tavrix card OS family.
// The reader program (vexa-vcard) feeds it the control codes and command APDUs
// that the vpcd driver sends; the simulator keeps its state in a card image file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa::vcard {

using Bytes = std::vector<uint8_t>;

class ICardOs {
 public:
  virtual ~ICardOs() = default;
  // The answer to reset of this card (asked for at any time, also while powered off).
  virtual Bytes Atr() const = 0;
  // Power on and reset: volatile state (current files, channels, security
  // status, secure-messaging session, challenge) starts afresh.
  virtual void PowerOn() = 0;
  virtual void PowerOff() = 0;
  // One command APDU in, the response data followed by SW1 SW2 out. Never throws
  // for bad input: a malformed command gets the status word a card would give.
  // A command that changes the card's persistent state writes the image file
  // atomically before it returns.
  virtual Bytes Process(const Bytes& apdu) = 0;
};

// Opens the card image file at imagePath. Throws std::runtime_error with a clear
// message when the file is missing or malformed.
std::unique_ptr<ICardOs> OpenCardImage(const std::string& imagePath);

}  // namespace vexa::vcard
