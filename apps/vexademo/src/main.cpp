// vexademo: uses the token engine as an application does, on whatever card the
// PC/SC readers hold (scripts/demo.sh gives it a virtual card in a private
// pcscd). The engine reads its configuration when it is loaded: set
// VEXA_REGISTRY to a registry file with "AID" first.
//
// usage: vexademo --out DIR --message FILE [--remove-cmd CMD --insert-cmd CMD] < PIN
//   The user PIN is the first line of standard input (it is never printed).
//   Writes DIR/pubkey.pem (the card's public key) and DIR/signature.bin (the
//   card's RSA PKCS #1 v1.5 signature of the SHA-256 of FILE). With the two
//   commands it also takes the card out and puts it back, and shows the engine
//   seeing both. Exit status 0 when every step succeeded, 1 otherwise, 2 for
//   bad usage.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "demo_card.h"
#include "demo_events.h"
#include "demo_files.h"
#include "demo_report.h"
#include "demo_slots.h"
#include "vexa/kernel/slots.h"

namespace {

struct Options {
  std::string out, message, removeCmd, insertCmd;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    if (a == "--out") o.out = argv[++i];
    else if (a == "--message") o.message = argv[++i];
    else if (a == "--remove-cmd") o.removeCmd = argv[++i];
    else if (a == "--insert-cmd") o.insertCmd = argv[++i];
    else return false;
  }
  return !o.out.empty() && !o.message.empty() && o.removeCmd.empty() == o.insertCmd.empty();
}

// The first line of standard input, in a wiping container.
vexa::SecureBytes ReadPin() {
  vexa::SecureBytes pin;
  for (int c = std::getchar(); c != EOF && c != '\n' && c != '\r'; c = std::getchar())
    pin.push_back(static_cast<BYTE>(c));
  return pin;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "vexademo: %s\n", why.c_str());
  return 1;
}

int Demo(const Options& o) {
  vexademo::CardJob job;
  job.pin = ReadPin();
  if (job.pin.empty()) return Fail("no PIN on standard input");
  if (!vexademo::ReadBytes(o.message, job.message)) return Fail("cannot read " + o.message);

  CSlots slots;
  vexademo::Heading("the engine's slots and tokens (CSlots::LoadSlots)");
  if (const long rc = slots.LoadSlots(0); rc != 0) return Fail("LoadSlots: " + std::to_string(rc));
  struct Unload {
    CSlots& s;
    ~Unload() { s.UnloadSlots(); }
  } unload{slots};
  auto list = vexademo::ListSlots(slots);
  if (vexademo::FirstToken(list) == nullptr) {
    // A card put in just now may not have been reported yet: wait for the
    // engine to open a token, as an application waiting for its card does.
    vexademo::Line("no token yet: waiting for a card (get_SlotEvent, at most 15 s)");
    if (vexademo::WaitForToken(slots, 15000)) list = vexademo::ListSlots(slots);
  }
  vexademo::PrintSlots(list);
  const vexademo::SlotInfo* token = vexademo::FirstToken(list);
  if (token == nullptr) return Fail("no reader holds a card that the engine opened");

  vexademo::Heading("card work in \"" + token->reader + "\" (card access library, secure messaging)");
  job.slot = token->handle;
  const vexademo::CardResult r = vexademo::RunCardJob(job);
  if (!r.ok) return Fail(r.error);

  vexademo::Heading("output files");
  const std::string pem = o.out + "/pubkey.pem", sig = o.out + "/signature.bin";
  if (auto e = vexademo::WritePublicKeyPem(pem, r.publicKey); !e.empty()) return Fail(e);
  if (auto e = vexademo::WriteBytes(sig, r.signature); !e.empty()) return Fail(e);
  vexademo::Line("public key  " + pem);
  vexademo::Line("signature   " + sig + " (" + std::to_string(r.signature.size()) + " bytes)");

  if (o.removeCmd.empty()) return 0;
  vexademo::Heading("card removal and reinsertion (CSlots::get_SlotEvent)");
  vexademo::EventJob ev{token->reader, o.removeCmd, o.insertCmd};
  if (!vexademo::RunEventJob(slots, ev)) return Fail("the card events did not reach the engine");
  vexademo::Heading("the engine's slots after reinsertion");
  vexademo::PrintSlots(vexademo::ListSlots(slots));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fputs("usage: vexademo --out DIR --message FILE [--remove-cmd CMD --insert-cmd CMD] < PIN\n",
               stderr);
    return 2;
  }
  try {
    return Demo(o);
  } catch (const std::exception& e) {
    return Fail(e.what());
  } catch (...) {
    return Fail("unexpected failure");
  }
}
