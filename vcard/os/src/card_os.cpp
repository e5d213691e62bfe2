// The card: command dispatch over the handlers, logical channels, secure
// messaging, and writing the image after every command that changed it.
#include "vexa/vcard/card_os.h"

#include <sys/stat.h>

#include <stdexcept>

#include "admin.h"
#include "filesystem.h"
#include "image_store.h"
#include "keys.h"
#include "secure_messaging.h"
#include "security.h"

namespace vexa::vcard {
namespace {

constexpr uint16_t kMemoryFailure = 0x6581;

class VirtualCard final : public ICardOs {
 public:
  VirtualCard(std::string path, CardState st) : path_(std::move(path)), st_(std::move(st)) {
    auto v = FindVersion(st_.version);
    if (!v) throw std::runtime_error(path_ + ": unknown card OS version " + st_.version);
    ver_ = *v;
    stamp_ = Stamp();
    Reset();
  }

  Bytes Atr() const override { return st_.atr; }
  // A card image changed by another simulator (another process) while this
  // card was powered off is read again, so both see the same card.
  void PowerOn() override {
    ReloadIfChanged();
    Reset();
  }
  void PowerOff() override { Reset(); }

  Bytes Process(const Bytes& apdu) override {
    try {
      return Run(apdu);
    } catch (const CardStatus& s) {
      return Answer(s.sw);
    } catch (...) {
      return Answer(sw::kNoDiagnosis);
    }
  }

 private:
  struct FileStamp {
    bool ok = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
  };

  FileStamp Stamp() const {
    struct stat s {};
    if (::stat(path_.c_str(), &s) != 0) return {};
    return {true, s.st_dev, s.st_ino, s.st_size, static_cast<long long>(s.st_mtim.tv_sec) * 1000000000LL + s.st_mtim.tv_nsec};
  }

  void ReloadIfChanged() {
    const FileStamp now = Stamp();
    if (!now.ok || now == stamp_) return;
    try {
      CardState st = LoadImageFile(path_);
      if (st.version != st_.version) return;  // another card: keep this one
      st_ = std::move(st);
      stamp_ = now;
    } catch (const std::exception&) {
    }
  }

  void Reset() {
    ses_ = SessionState{};
    ses_.channels[0].open = true;
    if (st_.mf) ses_.channels[0].df = {st_.mf->fid};
  }

  Bytes Run(const Bytes& apdu) {
    auto parsed = ParseCommand(apdu);
    if (!parsed) return Answer(sw::kWrongLength);
    Command c = std::move(*parsed);
    // Command data may carry PINs and keys: wiped however the command ends,
    // also when a handler throws something other than a status word.
    struct WipeData {
      Bytes& d;
      ~WipeData() { SecureWipe(d.data(), d.size()); }
    } wipeData{c.data};
    Context ctx{st_, ses_, ver_};
    ctx.channel = c.cla & 0x03;
    ses_.commandWasProtected = false;
    ses_.challengeIssuedNow = false;
    Bytes r;
    try {
      if (!ses_.channels[static_cast<size_t>(ctx.channel)].open) throw CardStatus{sw::kChannelNotSupported};
      if (!(c.cla & 0x80)) {
        const uint8_t smBits = c.cla & 0x0C;
        if (smBits == 0x0C) {
          c = UnwrapProtected(ctx, c);
          ses_.commandWasProtected = true;
        } else if (smBits != 0) {
          throw CardStatus{sw::kSmNotSupported};
        }
      }
      // A chained VERIFY continues only with VERIFY.
      if (ses_.chainP2 && !(c.ins == 0x20 && !(c.cla & 0x80))) {
        SecureWipe(ses_.chainBuffer.data(), ses_.chainBuffer.size());
        ses_.chainBuffer.clear();
        ses_.chainP2.reset();
      }
      r = Dispatch(ctx, c);
    } catch (const CardStatus& s) {
      r = Answer(s.sw);
    }
    if (!ses_.challengeIssuedNow) ses_.challengeFresh = false;
    if (ctx.dirty && !Persist()) return Answer(kMemoryFailure);
    return r;
  }

  // Writes the image; on failure the card goes back to the image on disk, as a
  // card whose write did not complete keeps its old contents.
  bool Persist() {
    try {
      SaveImageFile(path_, st_);
      stamp_ = Stamp();
      return true;
    } catch (const std::exception&) {
      try {
        st_ = LoadImageFile(path_);
      } catch (const std::exception&) {
      }
      return false;
    }
  }

  Bytes Dispatch(Context& ctx, const Command& c) {
    if (!(c.cla & 0x80)) {
      if ((c.cla & 0x10) && c.ins != 0x20) return Answer(sw::kChainingNotSupported);
      if (c.cla & 0x60) return Answer(sw::kClaNotSupported);
      return Interindustry(ctx, c);
    }
    switch (c.cla) {
      case 0x80:
        switch (c.ins) {
          case 0x10:
            if (ver_.m3) return Answer(sw::kClaNotSupported);
            return CmdPhaseControl(ctx, c);
          case 0x20:
            if (ver_.m3) return Answer(sw::kInsNotSupported);
            return CmdLoadExecutable(ctx, c);
          case 0x24: return CmdCardSignature(ctx, c);
          case 0x32: return CmdIncrease(ctx, c);
          default: return Answer(sw::kInsNotSupported);
        }
      case 0x84:
        switch (c.ins) {
          case 0x06: return CmdErase(ctx, c);
          case 0x20:
            if (ver_.m3) return Answer(sw::kInsNotSupported);
            return CmdLoadExecutable(ctx, c);
          case 0x24: return CmdChangeSystemKey(ctx, c);
          case 0x40: return CmdFormat(ctx, c);
          default: return Answer(sw::kInsNotSupported);
        }
      case 0x90:
        if (c.ins != 0x24) return Answer(sw::kInsNotSupported);
        if (!ver_.m410Forms) return Answer(sw::kClaNotSupported);
        if (!(c.p2 & 0x80)) return Answer(sw::kWrongP1P2);
        return LoadKeyComponent(ctx, c.p1, c.p2 & 0x7F, c.data);
      case 0xA0:
        if (c.ins != 0x86) return Answer(sw::kInsNotSupported);
        return CmdGiveRandom(ctx, c);
      case 0xB0:
        if (c.ins != 0x10) return Answer(sw::kInsNotSupported);
        if (!ver_.m3) return Answer(sw::kClaNotSupported);
        return CmdPhaseControl(ctx, c);
      default:
        return Answer(sw::kClaNotSupported);
    }
  }

  Bytes Interindustry(Context& ctx, const Command& c) {
    switch (c.ins) {
      case 0xA4: return CmdSelect(ctx, c);
      case 0xB0: return CmdReadBinary(ctx, c);
      case 0xD6: return CmdUpdateBinary(ctx, c);
      case 0xB2: return CmdReadRecord(ctx, c);
      case 0xDC: return CmdUpdateRecord(ctx, c);
      case 0xE2: return CmdAppendRecord(ctx, c);
      case 0xE0: return CmdCreateFile(ctx, c);
      case 0xE4: return CmdDeleteFile(ctx, c);
      case 0xCA: return CmdGetData(ctx, c);
      case 0xDA:
        switch (c.p1 << 8 | c.p2) {
          case 0x016F: return CmdPutDataFci(ctx, c);
          case 0x016E: return CmdPutDataOci(ctx, c);
          case 0x016D: return CmdPutDataSeci(ctx, c);
          case 0x02C2: return CmdPutDataDigestInfo(ctx, c);
          default: return Answer(sw::kRefNotFound);
        }
      case 0x20: return CmdVerify(ctx, c);
      case 0x24:
        if (c.p1 == 0x00 || c.p1 == 0x01) return CmdChangePin(ctx, c, c.p1);
        if (!(c.p2 & 0x80)) return Answer(sw::kWrongP1P2);
        if (c.p1 == 0x21) return LoadKeyComponent(ctx, 0x20, c.p2 & 0x7F, c.data);  // 3DES key of the M3 form
        if (c.p1 >= 0x40 && c.p1 <= 0x49) return LoadKeyComponent(ctx, static_cast<uint8_t>(c.p1 >> 1), c.p2 & 0x7F, c.data);
        return Answer(sw::kWrongP1P2);
      case 0x2C: return CmdResetRetryCounter(ctx, c);
      case 0xEA: return CmdResetSecurityStatus(ctx, c);
      case 0x22: return CmdMse(ctx, c);
      case 0x2A: return CmdPso(ctx, c);
      case 0x46: return CmdGenerateKeyPair(ctx, c);
      case 0x84: return CmdGetChallenge(ctx, c);
      case 0x70: return CmdManageChannel(ctx, c);
      case 0x82: return CmdExternalAuthenticate(ctx, c);
      default: return Answer(sw::kInsNotSupported);
    }
  }

  std::string path_;
  CardState st_;
  VersionInfo ver_{};
  SessionState ses_;
  FileStamp stamp_;
};

}  // namespace

std::unique_ptr<ICardOs> OpenCardImage(const std::string& imagePath) {
  return std::make_unique<VirtualCard>(imagePath, LoadImageFile(imagePath));
}

}  // namespace vexa::vcard
