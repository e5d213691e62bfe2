#include <exception>
#include <iostream>
#include <memory>

#include "connection.h"
#include "vexa/vcard/reader/program.h"

namespace vexa::vcard::reader {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitConnection = 1;
constexpr int kExitSetup = 2;
constexpr int kExitNoDriver = 3;

void Usage() {
  std::cerr << "usage: vexa-vcard --port PORT --image CARD_IMAGE [--log APDU_LOG]"
               " [--connect-timeout SECONDS] [--pull-on-ins XX]\n";
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string error;
  auto options = ParseProgramOptions(args, error);
  if (!options) {
    std::cerr << "vexa-vcard: " << error << "\n";
    Usage();
    return kExitSetup;
  }
  // Signals first: a card removed while it is still starting exits cleanly.
  UniqueFd stopFd = BlockStopSignals();

  std::unique_ptr<ICardOs> card;
  try {
    card = OpenCardImage(options->imagePath);
  } catch (const std::exception& e) {
    std::cerr << "vexa-vcard: cannot open the card image " << options->imagePath << ": " << e.what()
              << "\n";
    return kExitSetup;
  }
  if (!card) {
    std::cerr << "vexa-vcard: cannot open the card image " << options->imagePath << "\n";
    return kExitSetup;
  }
  ApduLogWriter log;
  if (!options->logPath.empty()) {
    try {
      log = ApduLogWriter(options->logPath);
    } catch (const std::exception& e) {
      std::cerr << "vexa-vcard: " << e.what() << "\n";
      return kExitSetup;
    }
  }

  log.Note("waiting for the reader driver on port " + std::to_string(options->port));
  UniqueFd sock;
  switch (ConnectToDriver(options->port, options->connectTimeoutSeconds, stopFd.get(), sock, error)) {
    case ConnectResult::kConnected:
      break;
    case ConnectResult::kStopped:
      return kExitOk;
    case ConnectResult::kTimedOut:
      std::cerr << "vexa-vcard: " << error << "\n";
      return kExitNoDriver;
    case ConnectResult::kError:
      std::cerr << "vexa-vcard: " << error << "\n";
      return kExitConnection;
  }

  CardSession session(*card, log);
  if (options->pullOnIns) session.PullOutOnInstruction(*options->pullOnIns);
  std::string reason;
  switch (ServeConnection(sock.get(), stopFd.get(), session, reason)) {
    case ServeEnd::kStopped:
    case ServeEnd::kPeerClosed:
    case ServeEnd::kPulled:
      return kExitOk;
    case ServeEnd::kMalformed:
      log.Note("connection closed: " + reason);
      std::cerr << "vexa-vcard: malformed frame from the driver (" << reason
                << "); connection closed\n";
      return kExitConnection;
    case ServeEnd::kSocketError:
      std::cerr << "vexa-vcard: " << reason << "\n";
      return kExitConnection;
  }
  return kExitOk;
}

}  // namespace

int RunVirtualCardProgram(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "vexa-vcard: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "vexa-vcard: unexpected failure\n";
  }
  return kExitSetup;
}

}  // namespace vexa::vcard::reader
