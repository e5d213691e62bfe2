// Command APDUs as the card receives them (short and extended forms) and the
// status words it answers with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "vexa/vcard/card_os.h"

namespace vexa::vcard {

namespace sw {
constexpr uint16_t kOk = 0x9000;
constexpr uint16_t kWrongLength = 0x6700;
constexpr uint16_t kChannelNotSupported = 0x6881;
constexpr uint16_t kSmNotSupported = 0x6882;
constexpr uint16_t kLastCommandExpected = 0x6883;
constexpr uint16_t kChainingNotSupported = 0x6884;
constexpr uint16_t kIncompatibleFile = 0x6981;
constexpr uint16_t kSecurityNotSatisfied = 0x6982;
constexpr uint16_t kAuthBlocked = 0x6983;
constexpr uint16_t kDataInvalid = 0x6984;
constexpr uint16_t kConditionsNotSatisfied = 0x6985;
constexpr uint16_t kNoCurrentEf = 0x6986;
constexpr uint16_t kSmObjectsMissing = 0x6987;
constexpr uint16_t kSmObjectsIncorrect = 0x6988;
constexpr uint16_t kWrongData = 0x6A80;
constexpr uint16_t kFuncNotSupported = 0x6A81;
constexpr uint16_t kFileNotFound = 0x6A82;
constexpr uint16_t kRecordNotFound = 0x6A83;
constexpr uint16_t kNotEnoughMemory = 0x6A84;
constexpr uint16_t kWrongP1P2 = 0x6A86;
constexpr uint16_t kRefNotFound = 0x6A88;
constexpr uint16_t kFileExists = 0x6A89;
constexpr uint16_t kNameExists = 0x6A8A;
constexpr uint16_t kWrongOffset = 0x6B00;
constexpr uint16_t kInsNotSupported = 0x6D00;
constexpr uint16_t kClaNotSupported = 0x6E00;
constexpr uint16_t kNoDiagnosis = 0x6F00;
constexpr uint16_t kEndOfFile = 0x6282;
constexpr uint16_t kVerifyFailedBase = 0x63C0;
}  // namespace sw

struct Command {
  uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
  Bytes data;
  std::optional<uint32_t> le;   // absent: no Le field; 256 / 65536 for a zero Le
  bool extended = false;
};

// Parses the bytes of a command APDU. Nothing when the bytes are not a valid
// encoding (the card answers 6700).
std::optional<Command> ParseCommand(const Bytes& apdu);

// Response data followed by the status word.
Bytes Answer(uint16_t status);
Bytes Answer(Bytes data, uint16_t status);
template <class C>
Bytes AnswerData(const C& data) {
  return Answer(Bytes(data.begin(), data.end()), sw::kOk);
}
uint16_t StatusOf(const Bytes& response);

// An exception a command handler throws to end a command with a status word.
struct CardStatus {
  uint16_t sw;
};

}  // namespace vexa::vcard
