#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <fstream>
#include <stdexcept>

#include "pcsc_wait.h"
#include "testbed_impl.h"
#include "vexa/vcard/reader/apdu_log.h"

namespace vexa::testbed {
namespace {

std::string CardProgram() {
  std::string program;
  if (const char* env = std::getenv("VEXA_VCARD_PROGRAM"); env && *env) {
    program = env;
  } else {
#ifdef VEXA_VCARD_DEFAULT_PROGRAM
    program = VEXA_VCARD_DEFAULT_PROGRAM;
#endif
  }
  if (program.empty()) {
    throw std::runtime_error("vexa-vcard is not built (the card OS simulator is missing); "
                             "VEXA_VCARD_PROGRAM may name a card program");
  }
  if (::access(program.c_str(), X_OK) != 0) throw std::runtime_error("cannot run the card program " + program);
  return program;
}

bool Present(DWORD state) { return (state & SCARD_STATE_PRESENT) != 0 && (state & SCARD_STATE_MUTE) == 0; }
bool Empty(DWORD state) { return (state & SCARD_STATE_EMPTY) != 0; }

}  // namespace

struct VirtualCard::Impl {
  PcscTestbed::Impl& bed;
  std::string reader;
  int port;
  std::string image;
  std::string logPath;
  std::string outputPath;
  ChildProcess card;
  PcscContext ctx;
  bool inserted = false;  // started by Insert and not yet seen gone by Remove

  Impl(PcscTestbed::Impl& b, const std::string& r, const std::string& img)
      : bed(b),
        reader(r),
        port(b.readerPorts.at(r)),
        image(img),
        logPath(b.dir + "/card-" + std::to_string(port) + ".log"),
        outputPath(b.dir + "/card-" + std::to_string(port) + ".out") {
    const LONG rv = ctx.Establish();
    if (rv != SCARD_S_SUCCESS) {
      throw std::runtime_error(std::string("SCardEstablishContext: ") + pcsc_stringify_error(rv));
    }
  }

  void Wait(bool (*want)(DWORD), const char* what, bool watchCard) {
    DWORD last = 0;
    auto keepWaiting = [&] { return !watchCard || card.Running(); };
    const WaitResult r = WaitForReaderState(ctx.Get(), reader, want, kEventLimit, keepWaiting, last);
    if (r == WaitResult::kReached) return;
    std::string why;
    switch (r) {
      case WaitResult::kAborted:
        why = "the card program ended (status " + std::to_string(card.ExitStatus()) + "):\n" +
              TailOfFile(outputPath);
        break;
      case WaitResult::kTimedOut:
        why = "no change within " + std::to_string(kEventLimit.count()) + " ms (state " + std::to_string(last) +
              "); pcscd:\n" + bed.DaemonOutput();
        break;
      default:
        why = "SCardGetStatusChange failed; pcscd:\n" + bed.DaemonOutput();
        break;
    }
    throw std::runtime_error("reader \"" + reader + "\" did not report the card " + what + ": " + why);
  }

  void Insert(std::optional<uint8_t> pullIns) {
    if (card.Running()) return;
    // A card taken out just before (or pulled out) is gone from pcscd's view
    // first, so that the presence seen below is this card's.
    Wait(Empty, "absent", false);
    inserted = false;
    SpawnSpec spec;
    spec.argv = {CardProgram(), "--port", std::to_string(port), "--image", image, "--log", logPath};
    if (pullIns) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", *pullIns);
      spec.argv.insert(spec.argv.end(), {"--pull-on-ins", hex});
    }
    spec.outputPath = outputPath;
    card = ChildProcess(spec);
    try {
      Wait(Present, "present", true);
    } catch (...) {
      card.Stop();
      throw;
    }
    inserted = true;
  }

  void Remove() {
    card.Stop();
    if (!inserted) return;
    Wait(Empty, "absent", false);
    inserted = false;
  }
};

VirtualCard::VirtualCard(PcscTestbed& bed, const std::string& reader, const std::string& imagePath) {
  if (!bed.m_impl) throw std::logic_error("the test bed is not running");
  if (bed.m_impl->readerPorts.count(reader) == 0) {
    throw std::out_of_range("no virtual reader named \"" + reader + "\"");
  }
  m_impl = std::make_unique<Impl>(*bed.m_impl, reader, imagePath);
  m_impl->Insert(std::nullopt);
}

VirtualCard::~VirtualCard() {
  try {
    m_impl->Remove();
  } catch (...) {
    // A destructor does not throw; the card program is stopped in any case.
  }
}

void VirtualCard::Remove() { m_impl->Remove(); }

void VirtualCard::Insert() { m_impl->Insert(std::nullopt); }

void VirtualCard::InsertPullingOutOn(uint8_t ins) {
  // A card that is in stays as it is: take it out first.
  m_impl->Remove();
  m_impl->Insert(ins);
}

bool VirtualCard::Inserted() const { return m_impl->card.Running(); }

std::vector<VirtualCard::Exchange> VirtualCard::Log() const {
  std::ifstream in(m_impl->logPath, std::ios::binary);
  if (!in) return {};
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Exchange> out;
  for (auto& e : vexa::vcard::reader::ParseApduLog(text)) out.push_back({std::move(e.command), std::move(e.response)});
  return out;
}

void VirtualCard::ClearLog() {
  // The card appends (O_APPEND), so its next line lands at the new end.
  if (::truncate(m_impl->logPath.c_str(), 0) != 0 && errno != ENOENT) {
    throw std::runtime_error("cannot clear " + m_impl->logPath);
  }
}

const std::string& VirtualCard::LogPath() const { return m_impl->logPath; }

}  // namespace vexa::testbed
