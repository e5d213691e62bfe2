#include "keys.h"

#include <algorithm>

#include "crypto_prims.h"
#include "filesystem.h"
#include "security.h"
#include "tlv.h"

namespace vexa::vcard {
namespace {

[[noreturn]] void Refuse(uint16_t s) { throw CardStatus{s}; }

// Access-record positions of a key object.
constexpr size_t kAcUse = 0, kAcChange = 1;
constexpr size_t kMaxComponent = 1024;

bool AllFf(std::span<const uint8_t> v) {
  return std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0xFF; });
}

// A component as sent: with the (length + 1, 00) header it is stripped.
SecureBytes ComponentValue(std::span<const uint8_t> v) {
  if (v.size() >= 3 && v[0] == v.size() - 1 && v[1] == 0x00) v = v.subspan(2);
  return SecureBytes(v.begin(), v.end());
}

bool Loaded(const KeyObject& k, uint8_t cls) {
  auto it = k.comps.find(cls);
  return it != k.comps.end() && it->second.loaded && !it->second.value.empty();
}

bool IsCrt(const KeyObject& k) { return Loaded(k, 0x22) && Loaded(k, 0x23) && Loaded(k, 0x24); }

// The key length in bytes: the modulus length, or twice the prime length.
size_t ModulusLength(const KeyObject& k) {
  if (IsCrt(k)) {
    const SecureBytes n = Multiply(k.comps.at(0x20).value, k.comps.at(0x21).value);
    return n.size();
  }
  if (Loaded(k, 0x20)) {
    const auto& n = k.comps.at(0x20).value;
    size_t i = 0;
    while (i < n.size() && n[i] == 0) ++i;
    return n.size() - i;
  }
  return k.size;
}

RsaKeyParts CrtParts(const KeyObject& k) {
  RsaKeyParts p;
  p.p = k.comps.at(0x20).value;
  p.q = k.comps.at(0x21).value;
  p.dp = k.comps.at(0x22).value;
  p.dq = k.comps.at(0x23).value;
  p.qinv = k.comps.at(0x24).value;
  return p;
}

// The RSA private operation on a block of the modulus length.
SecureBytes PrivateOp(const KeyObject& k, std::span<const uint8_t> block) {
  if (k.algo == kAlgo3Des) Refuse(sw::kConditionsNotSatisfied);
  std::optional<SecureBytes> r;
  if (IsCrt(k)) {
    if (!Loaded(k, 0x20) || !Loaded(k, 0x21)) Refuse(sw::kConditionsNotSatisfied);
    r = RsaCrt(block, CrtParts(k), ModulusLength(k));
  } else {
    if (!Loaded(k, 0x20) || !Loaded(k, 0x21)) Refuse(sw::kConditionsNotSatisfied);
    r = RsaModExp(block, k.comps.at(0x21).value, k.comps.at(0x20).value);
  }
  if (!r) Refuse(sw::kWrongData);
  // Left-align to the modulus length (a modulus stored with leading zeros).
  const size_t len = ModulusLength(k);
  if (r->size() > len) r->erase(r->begin(), r->begin() + static_cast<std::ptrdiff_t>(r->size() - len));
  return *r;
}

SecureBytes Des3Key(const KeyObject& k) {
  if (!Loaded(k, 0x20)) Refuse(sw::kConditionsNotSatisfied);
  const auto& v = k.comps.at(0x20).value;
  if (v.size() >= 24) return SecureBytes(v.begin(), v.begin() + 24);
  if (v.size() >= 16) return SecureBytes(v.begin(), v.begin() + 16);
  Refuse(sw::kConditionsNotSatisfied);
}

KeyObject& SessionKey(Context& ctx, const std::optional<uint8_t>& ref, const std::optional<Path>& df) {
  if (!ref || !df) Refuse(sw::kConditionsNotSatisfied);
  FileNode* node = Resolve(ctx.st, *df);
  if (node)
    for (auto& k : node->keys)
      if (k.ref == *ref) return k;
  Refuse(sw::kRefNotFound);
}

// PKCS #1 block type 1 around the data (with the stored DigestInfo prefix in front
// of a bare 20-byte hash for keys that ask for it).
SecureBytes SignatureBlock(const Context& ctx, const KeyObject& k, std::span<const uint8_t> data) {
  Bytes msg;
  if (data.size() == 20 && (k.algo == 0x88 || k.algo == 0x08) && !ctx.st.digestInfoPrefix.empty())
    msg = ctx.st.digestInfoPrefix;
  msg.insert(msg.end(), data.begin(), data.end());
  const size_t len = ModulusLength(k);
  if (msg.empty() || msg.size() + 11 > len) Refuse(sw::kWrongLength);
  SecureBytes block(len, 0xFF);
  block[0] = 0x00;
  block[1] = 0x01;
  block[len - msg.size() - 1] = 0x00;
  std::copy(msg.begin(), msg.end(), block.end() - static_cast<std::ptrdiff_t>(msg.size()));
  return block;
}

Bytes Out(const SecureBytes& s) { return Answer(Bytes(s.begin(), s.end()), sw::kOk); }

void WritePublicKey(Context& ctx, FileNode& ef, const RsaKeyParts& k) {
  if (ef.kind == FileKind::Record) {
    // tag, length + 2, length + 1, 00, value (one-byte lengths); for values
    // over 253 bytes both lengths take the form 82 HH LL.
    auto rec = [](uint8_t tag, const SecureBytes& v) {
      Bytes out{tag};
      auto len = [&](size_t n) {
        if (v.size() + 2 <= 0xFF) {
          out.push_back(static_cast<uint8_t>(n));
        } else {
          out.push_back(0x82);
          out.push_back(static_cast<uint8_t>(n >> 8));
          out.push_back(static_cast<uint8_t>(n));
        }
      };
      const bool big = v.size() + 2 > 0xFF;
      len(v.size() + 2 + (big ? 3 : 0));
      len(v.size() + 1);
      out.push_back(0x00);
      out.insert(out.end(), v.begin(), v.end());
      return out;
    };
    Bytes r1 = rec(0x10, k.n), r2 = rec(0x11, k.e);
    if (r1.size() + r2.size() > ef.size) Refuse(sw::kNotEnoughMemory);
    ef.records = {r1, r2};
  } else if (ef.kind == FileKind::Transparent) {
    // 7F 49 82 LL LL | 81 82 NN NN modulus | 82 EL exponent, zero-filled to the file size.
    const size_t body = 4 + k.n.size() + 2 + k.e.size();
    Bytes t{0x7F, 0x49, 0x82, static_cast<uint8_t>(body >> 8), static_cast<uint8_t>(body), 0x81, 0x82,
            static_cast<uint8_t>(k.n.size() >> 8), static_cast<uint8_t>(k.n.size())};
    t.insert(t.end(), k.n.begin(), k.n.end());
    t.push_back(0x82);
    t.push_back(static_cast<uint8_t>(k.e.size()));
    t.insert(t.end(), k.e.begin(), k.e.end());
    if (t.size() > ef.size) Refuse(sw::kNotEnoughMemory);
    std::fill(ef.data.begin(), ef.data.end(), 0x00);
    std::copy(t.begin(), t.end(), ef.data.begin());
  } else {
    Refuse(sw::kIncompatibleFile);
  }
  ctx.dirty = true;
}

}  // namespace

KeyObject* FindKey(Context& ctx, uint8_t ref, Path* where) {
  Path p = ctx.Ch().df;
  while (!p.empty()) {
    if (FileNode* df = Resolve(ctx.st, p))
      for (auto& k : df->keys)
        if (k.ref == ref) {
          if (where) *where = p;
          return &k;
        }
    p.pop_back();
  }
  return nullptr;
}

void CreateKeyObject(Context& ctx, uint8_t objClass, uint8_t ref, const Bytes& options, const Bytes& ac,
                     const Bytes& sm, const Bytes* value) {
  FileNode& df = CurrentDf(ctx);
  auto it = std::find_if(df.keys.begin(), df.keys.end(), [&](const KeyObject& k) { return k.ref == ref; });
  if (value && value->size() > kMaxComponent) Refuse(sw::kWrongLength);
  KeyComponent comp;
  if (value) {
    comp.value = ComponentValue(*value);
    comp.loaded = !AllFf(*value);
    if (!comp.loaded) comp.value.assign(value->size() >= 2 ? value->size() - 2 : 0, 0xFF);
  }
  if (objClass == 0x20) {
    if (it != df.keys.end()) Refuse(sw::kFileExists);
    KeyObject k;
    k.ref = ref;
    k.options = options;
    k.algo = options.size() >= 3 ? options[2] : 0;
    k.ac = ac;
    k.sm = sm;
    k.size = static_cast<uint16_t>(value && value->size() >= 2 ? value->size() - 2 : 0);
    if (value) k.comps[0x20] = std::move(comp);
    df.keys.push_back(std::move(k));
  } else {
    if (it == df.keys.end()) Refuse(sw::kRefNotFound);
    if (it->comps.count(objClass)) Refuse(sw::kFileExists);
    it->comps[objClass] = std::move(comp);
    // A third component makes it a CRT key: the class-20 template gave the
    // length of a prime, half the key length.
    if (objClass == 0x22) it->size = static_cast<uint16_t>(2 * it->size);
  }
  ctx.dirty = true;
}

Bytes LoadKeyComponent(Context& ctx, uint8_t objClass, uint8_t ref, const Bytes& data) {
  if (objClass < 0x20 || objClass > 0x24) Refuse(sw::kWrongP1P2);
  KeyObject* k = FindKey(ctx, ref);
  if (!k) Refuse(sw::kRefNotFound);
  RequireAccess(ctx, k->ac, kAcChange);
  if (data.empty() || data.size() > kMaxComponent) Refuse(sw::kWrongLength);
  KeyComponent& comp = k->comps[objClass];
  comp.loaded = !AllFf(data);
  comp.value = comp.loaded ? ComponentValue(data) : SecureBytes(data.begin(), data.end());
  // Modulus or private exponent: the key is in (or goes back to) that form.
  if (objClass == 0x20 || objClass == 0x21) {
    k->publicExponent.clear();
    for (uint8_t cls : {0x22, 0x23, 0x24})
      if (k->comps.count(cls)) k->comps[cls].loaded = false;
  }
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdGenerateKeyPair(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  const Bytes& d = c.data;
  if (d.size() < 8 || d[0] != 0x20) Refuse(sw::kWrongData);
  Bytes e{0x01, 0x00, 0x01};
  if (d.size() > 8) {
    // (exponent length + 1) 00 exponent
    if (d.size() < 11 || d[8] != d.size() - 9 || d[9] != 0x00) Refuse(sw::kWrongData);
    e.assign(d.begin() + 10, d.end());
    if (e.size() < 3 || e.size() > 8 || !(e.back() & 1)) Refuse(sw::kWrongData);
  }
  RequireAdminPhase(ctx);
  KeyObject* k = FindKey(ctx, d[1]);
  if (!k || k->algo == kAlgo3Des) Refuse(sw::kRefNotFound);
  RequireAccess(ctx, k->ac, kAcChange);
  // The key length comes from the placeholders of the creation templates.
  const size_t bytes = k->size;
  if (bytes < 64 || bytes > 512 || bytes % 8 != 0) Refuse(sw::kWrongData);
  FileNode& df = CurrentDf(ctx);
  const uint16_t fid = static_cast<uint16_t>(d[2] << 8 | d[3]);
  FileNode* ef = nullptr;
  for (auto& f : df.children)
    if (f.fid == fid && f.kind != FileKind::DF) ef = &f;
  if (!ef) Refuse(sw::kFileNotFound);
  RsaKeyParts parts = GenerateRsa(static_cast<unsigned>(bytes * 8), e);
  WritePublicKey(ctx, *ef, parts);
  // Kept in the CRT form: four times faster to use than modulus and exponent.
  k->comps[0x20] = {parts.p, true};
  k->comps[0x21] = {parts.q, true};
  k->comps[0x22] = {parts.dp, true};
  k->comps[0x23] = {parts.dq, true};
  k->comps[0x24] = {parts.qinv, true};
  k->publicExponent = Bytes(parts.e.begin(), parts.e.end());
  k->size = static_cast<uint16_t>(bytes);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdMse(Context& ctx, const Command& c) {
  if (c.p1 == 0xF3) {  // restore a stored environment
    if (!c.data.empty()) Refuse(sw::kWrongLength);
    ctx.ses.restoredSe = c.p2;
    ctx.ses.signKey.reset();
    ctx.ses.cipherKey.reset();
    return Answer(sw::kOk);
  }
  if ((c.p1 & 0x0F) != 0x01) Refuse(sw::kWrongP1P2);
  if (c.p2 != 0xB6 && c.p2 != 0xB8) Refuse(sw::kWrongP1P2);
  // The key reference is the value of 83 (or 84), or the last byte of the data.
  uint8_t ref;
  auto tlvs = ParseTlvs(c.data);
  const Tlv* t = tlvs ? FindTag(*tlvs, 0x83) : nullptr;
  if (!t && tlvs) t = FindTag(*tlvs, 0x84);
  if (t && t->value.size() == 1) ref = t->value[0];
  else if (!c.data.empty()) ref = c.data.back();
  else Refuse(sw::kWrongLength);
  Path where;
  if (!FindKey(ctx, ref, &where)) Refuse(sw::kRefNotFound);
  if (c.p2 == 0xB6) {
    ctx.ses.signKey = ref;
    ctx.ses.signKeyDf = where;
  } else {
    ctx.ses.cipherKey = ref;
    ctx.ses.cipherKeyDf = where;
  }
  return Answer(sw::kOk);
}

Bytes CmdPso(Context& ctx, const Command& c) {
  const uint16_t op = static_cast<uint16_t>(c.p1 << 8 | c.p2);
  if (op == 0x9E9A) {  // COMPUTE DIGITAL SIGNATURE
    KeyObject& k = SessionKey(ctx, ctx.ses.signKey, ctx.ses.signKeyDf);
    RequireAccess(ctx, k.ac, kAcUse);
    return Out(PrivateOp(k, SignatureBlock(ctx, k, c.data)));
  }
  if (op == 0x8086) {  // DECIPHER
    KeyObject& k = SessionKey(ctx, ctx.ses.cipherKey, ctx.ses.cipherKeyDf);
    RequireAccess(ctx, k.ac, kAcUse);
    if (k.algo == kAlgo3Des) {
      std::span<const uint8_t> in(c.data);
      if (in.size() % 8 == 1 && (in[0] == 0x00 || in[0] == 0x01)) in = in.subspan(1);
      if (in.empty() || in.size() % 8 != 0) Refuse(sw::kWrongLength);
      Bytes out = Des3CbcDecrypt(Des3Key(k), in);
      return Answer(std::move(out), sw::kOk);
    }
    // Padding indicator 00, then the cryptogram of the modulus length.
    const size_t len = ModulusLength(k);
    std::span<const uint8_t> in(c.data);
    if (in.size() == len + 1 && in[0] == 0x00) in = in.subspan(1);
    if (in.size() != len) Refuse(sw::kWrongLength);
    return Out(PrivateOp(k, in));
  }
  if (op == 0x8680) {  // ENCIPHER
    KeyObject& k = SessionKey(ctx, ctx.ses.cipherKey, ctx.ses.cipherKeyDf);
    RequireAccess(ctx, k.ac, kAcUse);
    if (c.data.empty()) Refuse(sw::kWrongLength);
    Bytes out{0x00};  // padding indicator: no padding added by the card
    if (k.algo == kAlgo3Des) {
      Bytes plain = PadZero(c.data);
      Bytes enc = Des3CbcEncrypt(Des3Key(k), plain);
      SecureWipe(plain.data(), plain.size());
      out.insert(out.end(), enc.begin(), enc.end());
      return Answer(std::move(out), sw::kOk);
    }
    if (k.publicExponent.empty() || !Loaded(k, 0x20) || (IsCrt(k) && !Loaded(k, 0x21))) Refuse(sw::kConditionsNotSatisfied);
    const SecureBytes n = IsCrt(k) ? Multiply(k.comps.at(0x20).value, k.comps.at(0x21).value) : k.comps.at(0x20).value;
    auto r = RsaModExp(c.data, k.publicExponent, n);
    if (!r) Refuse(sw::kWrongData);
    out.insert(out.end(), r->begin(), r->end());
    return Answer(std::move(out), sw::kOk);
  }
  Refuse(sw::kWrongP1P2);
}

Bytes CmdCardSignature(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  KeyObject& k = SessionKey(ctx, ctx.ses.cipherKey, ctx.ses.cipherKeyDf);
  RequireAccess(ctx, k.ac, kAcUse);
  return Out(PrivateOp(k, SignatureBlock(ctx, k, c.data)));
}

Bytes CmdPutDataDigestInfo(Context& ctx, const Command& c) {
  // The 15-byte SHA-1 DigestInfo prefix (30 21 ...), alone or with two more
  // bytes before or after it.
  std::span<const uint8_t> v(c.data);
  if (v.size() == 17) v = v[0] == 0x30 && v[1] == 0x21 ? v.first(15) : v.subspan(2);
  if (v.size() != 15 || v[0] != 0x30 || v[1] != 0x21) Refuse(sw::kWrongData);
  ctx.st.digestInfoPrefix.assign(v.begin(), v.end());
  ctx.dirty = true;
  return Answer(sw::kOk);
}

}  // namespace vexa::vcard
