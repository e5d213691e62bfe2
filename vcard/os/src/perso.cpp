#include "vexa/vcard/perso.h"

#include <set>
#include <stdexcept>

#include "crypto_prims.h"
#include "image_store.h"
#include "versions.h"

namespace vexa::vcard {
namespace {

SecureBytes KeyOr(const SecureBytes& given, const uint8_t* def, size_t n, const char* what) {
  if (given.empty()) return SecureBytes(def, def + n);
  if (given.size() != n) throw std::invalid_argument(std::string(what) + " must have " + std::to_string(n) + " bytes");
  return given;
}

PinObject MakePin(const PinSpec& s, const char* what) {
  if (s.ref == 0 || s.ref > 0x7F) throw std::invalid_argument(std::string(what) + ": reference out of 01..7F");
  if (s.value.empty() || s.value.size() > 64) throw std::invalid_argument(std::string(what) + ": value of 1 to 64 bytes");
  if (s.maxTries > 15) throw std::invalid_argument(std::string(what) + ": at most 15 tries");
  PinObject p;
  p.ref = s.ref;
  p.objClass = 0x00;
  p.options = {0x02, s.maxTries, 0x87, s.maxTries, 0xFF, 0xFF, 0x00, s.unblockRef};
  p.ac = Bytes(7, 0x00);
  p.sm = Bytes(16, 0xFF);
  if (s.smRequired) p.sm[0] = 0x01;
  p.value.assign(s.value.begin(), s.value.end());
  p.maxTries = s.maxTries;
  p.triesLeft = s.maxTries;
  p.unblockRef = s.unblockRef;
  p.grants.assign(s.grants.begin(), s.grants.end());
  return p;
}

CardState Build(const PersoOptions& o) {
  auto ver = FindVersion(o.version);
  if (!ver) throw std::invalid_argument("unknown card OS version: " + o.version);
  CardState st;
  st.version = o.version;
  st.versionBytes = {0xC8, ver->versionByte};
  st.atr = o.atr.empty() ? DefaultAtr(o.version, o.atrProfile) : o.atr;
  if (st.atr.empty()) throw std::invalid_argument("no ATR for version " + o.version + " and profile " + o.atrProfile);
  if (st.atr.size() < 2 || st.atr.size() > 33) throw std::invalid_argument("an ATR has 2 to 33 bytes");
  st.lifeCycle = o.lifeCycle;
  if (!o.uidRecord.empty()) {
    if (o.uidRecord.size() < 16 || o.uidRecord.size() > 96) throw std::invalid_argument("UID record of 16 to 96 bytes");
    st.uidRecord = o.uidRecord;
  } else {
    if (o.serial.size() != 6) throw std::invalid_argument("card serial number must have 6 bytes");
    st.uidRecord = Bytes(24, 0x00);
    st.uidRecord[0] = 0x3B;
    std::copy(o.serial.begin(), o.serial.end(), st.uidRecord.begin() + 10);
  }
  if (o.memoryKb == 0) throw std::invalid_argument("memory size must not be 0");
  st.memoryKb = o.memoryKb;
  st.masterKey = KeyOr(o.masterKey, kDefaultMasterKey, 24, "master key");
  st.systemKeys[0x00] = KeyOr(o.formatKey, kDefaultFormatKey, 16, "format key");
  st.systemKeys[0x01] = KeyOr(o.eraseKey, kDefaultEraseKey, 16, "erase key");
  st.systemKeys[0x02] = KeyOr(o.authKey, kDefaultAuthKey, 16, "authentication key");
  for (const auto& p : o.packages) st.packages.push_back({p.id, p.version});

  if (o.aid.empty() || o.aid.size() > 16) throw std::invalid_argument("AID of 1 to 16 bytes");
  if (o.appFid == 0x3F00 || o.appFid == 0xFFFF || o.directoryFid == 0x3F00 || o.directoryFid == 0xFFFF)
    throw std::invalid_argument("reserved file identifier");
  if (o.directorySize == 0 || o.directoryContent.size() > o.directorySize)
    throw std::invalid_argument("directory contents larger than the directory file");
  if (o.directorySize > o.appQuota) throw std::invalid_argument("directory file larger than the application quota");
  if (o.directorySize > static_cast<uint32_t>(o.memoryKb) * 1024u)
    throw std::invalid_argument("directory file larger than the card memory");

  FileNode mf;
  mf.fid = 0x3F00;
  mf.kind = FileKind::DF;
  mf.descriptor = 0x38;
  mf.size = 0xFFFF;
  mf.ac = Bytes(9, 0x00);
  mf.sm = Bytes(24, 0xFF);

  FileNode app;
  app.fid = o.appFid;
  app.kind = FileKind::DF;
  app.descriptor = 0x38;
  app.name = o.aid;
  app.size = o.appQuota;
  app.ac = Bytes(9, 0x00);
  app.sm = Bytes(24, 0xFF);

  FileNode dir;
  dir.fid = o.directoryFid;
  dir.kind = FileKind::Transparent;
  dir.descriptor = 0x01;
  dir.size = o.directorySize;
  dir.data = o.directoryContent;
  dir.data.resize(o.directorySize, 0x00);
  dir.sm = Bytes(24, 0xFF);
  if (o.withPins) {
    const uint8_t d = o.directoryPin.ref;
    dir.ac = {0x00, d, d, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF};
    std::set<uint8_t> refs;
    for (const PinSpec* s : {&o.userPin, &o.puk, &o.directoryPin})
      if (!refs.insert(s->ref).second) throw std::invalid_argument("two PINs with one reference");
    app.pins.push_back(MakePin(o.userPin, "user PIN"));
    app.pins.push_back(MakePin(o.puk, "PUK"));
    app.pins.push_back(MakePin(o.directoryPin, "directory PIN"));
  } else {
    dir.ac = {0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF};
  }
  app.children.push_back(std::move(dir));
  mf.children.push_back(std::move(app));
  st.mf = std::move(mf);
  return st;
}

}  // namespace

void CreateCardImage(const std::string& path, const PersoOptions& options) {
  SaveImageFile(path, Build(options));
}

Bytes FormatCommandData(uint16_t mfSize, const SecureBytes& formatKey) {
  if (formatKey.size() != 16) throw std::invalid_argument("format key must have 16 bytes");
  Bytes t{0x6F, 0x26, 0x85, 0x03, 0x01, static_cast<uint8_t>(mfSize >> 8), static_cast<uint8_t>(mfSize), 0x86, 0x09};
  t.insert(t.end(), 9, 0x00);
  t.push_back(0x8B);
  t.push_back(0x14);
  t.insert(t.end(), 20, 0xFF);
  Bytes macInput{0x40, 0x00, 0x01, static_cast<uint8_t>(t.size() + 8)};
  macInput.insert(macInput.end(), t.begin(), t.end());
  Bytes mac = RetailMac(formatKey, PadZero(macInput));
  t.insert(t.end(), mac.begin(), mac.end());
  return t;
}

}  // namespace vexa::vcard
