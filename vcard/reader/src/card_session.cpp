#include "vexa/vcard/reader/card_session.h"

#include <cstdio>
#include <exception>
#include <iostream>

namespace vexa::vcard::reader {

FrameResult CardSession::HandlePayload(const Bytes& payload) {
  try {
    if (payload.empty()) return {FrameResult::Action::kClose, {}, "empty frame"};
    if (payload.size() == 1) return HandleControl(payload);
    return HandleCommand(payload);
  } catch (const std::exception& e) {
    return {FrameResult::Action::kClose, {}, std::string("internal error: ") + e.what()};
  } catch (...) {
    return {FrameResult::Action::kClose, {}, "internal error"};
  }
}

FrameResult CardSession::HandleControl(const Bytes& payload) {
  switch (static_cast<ControlCode>(payload[0])) {
    case ControlCode::kPowerOff:
      m_card.PowerOff();
      m_log.Note("power off");
      return {};
    case ControlCode::kPowerOn:
      m_card.PowerOn();
      m_log.Note("power on");
      return {};
    case ControlCode::kReset:
      m_card.PowerOn();
      m_log.Note("reset");
      return {};
    case ControlCode::kGetAtr: {
      Bytes atr = m_card.Atr();
      if (atr.empty() || atr.size() > kMaxFramePayload) {
        return {FrameResult::Action::kClose, {}, "the card OS gave no usable ATR"};
      }
      return {FrameResult::Action::kReply, std::move(atr), {}};
    }
  }
  // The driver frames a client's one-byte command exactly like a control code
  // (pcscd passes such commands on). Any other byte is such a command: the
  // card OS answers it like a card would (wrong length), and the card stays in.
  return HandleCommand(payload);
}

FrameResult CardSession::HandleCommand(const Bytes& apdu) {
  if (m_pullIns && apdu.size() >= 2 && apdu[1] == *m_pullIns) {
    char ins[3];
    std::snprintf(ins, sizeof ins, "%02X", apdu[1]);
    m_log.Note(std::string("pulled out during a command with INS ") + ins);
    return {FrameResult::Action::kPull, {}, "card pulled out during a command"};
  }
  Bytes response;
  try {
    response = m_card.Process(apdu);
  } catch (const std::exception& e) {
    std::cerr << "vexa-vcard: the card OS failed on a command: " << e.what() << "\n";
    m_log.Note(std::string("card OS failure: ") + e.what());
    response.clear();
  } catch (...) {
    std::cerr << "vexa-vcard: the card OS failed on a command\n";
    m_log.Note("card OS failure");
    response.clear();
  }
  // A response without a status word, or one too long for a frame, would be
  // misread by the driver: answer "no precise diagnosis" instead.
  if (response.size() < 2 || response.size() > kMaxFramePayload) {
    if (!response.empty()) m_log.Note("response of " + std::to_string(response.size()) + " bytes replaced");
    response.assign(std::begin(kSwInternalError), std::end(kSwInternalError));
  }
  m_log.Exchange(apdu, response);
  return {FrameResult::Action::kReply, std::move(response), {}};
}

}  // namespace vexa::vcard::reader
