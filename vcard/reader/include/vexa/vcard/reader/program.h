// The vexa-vcard program: puts one virtual card into one vpcd virtual reader.
//
//   vexa-vcard --port PORT --image CARD_IMAGE [--log APDU_LOG] [--connect-timeout SECONDS]
//              [--pull-on-ins XX]
//
// It opens the card image (vexa::vcard::OpenCardImage), connects to the
// reader driver at 127.0.0.1:PORT (retrying until the time limit, default 10 s,
// while the driver is not listening yet) and answers the driver until the
// connection ends. Inserting the card is starting the program; removing it is
// ending it (SIGTERM, SIGINT or SIGHUP close the socket and exit 0).
// --pull-on-ins XX (hex) simulates a card pulled out in the middle of a
// command: the first command with that INS is not answered, the connection
// closes and the program exits 0.
//
// Exit status: 0 removed by a signal or the driver closed the connection;
// 1 a malformed frame or a socket error ended the connection; 2 bad arguments,
// an unreadable card image or log; 3 no driver listened within the time limit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexa::vcard::reader {

struct ProgramOptions {
  int port = 0;
  std::string imagePath;
  std::string logPath;  // empty: no APDU log
  double connectTimeoutSeconds = 10.0;
  std::optional<uint8_t> pullOnIns;
};

// Parses the arguments after the program name. Nothing, with error set, when
// they are not valid.
std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args,
                                                  std::string& error);

// The whole program; returns its exit status. Never throws.
int RunVirtualCardProgram(int argc, char** argv);

}  // namespace vexa::vcard::reader
