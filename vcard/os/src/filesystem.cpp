#include "filesystem.h"

#include <algorithm>

#include "security.h"
#include "tlv.h"

namespace vexa::vcard {
namespace {

constexpr uint16_t kMf = 0x3F00;

// Access-record byte positions of an EF.
constexpr size_t kAcRead = 0, kAcUpdate = 1, kAcDelete = 2;

[[noreturn]] void Refuse(uint16_t s) { throw CardStatus{s}; }

FileNode* Child(FileNode& df, uint16_t fid) {
  for (auto& c : df.children)
    if (c.fid == fid) return &c;
  return nullptr;
}

uint16_t Fid(const Bytes& d, size_t i) { return static_cast<uint16_t>(d[i] << 8 | d[i + 1]); }

// The control parameters answered by SELECT when the command asks for data.
Bytes Fcp(const FileNode& f) {
  Bytes inner;
  const uint32_t size = f.size;
  const uint8_t sz[2] = {static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
  PutTlv(inner, f.kind == FileKind::DF ? 0x81 : 0x80, sz);
  const uint8_t desc[1] = {f.descriptor};
  PutTlv(inner, 0x82, desc);
  const uint8_t fid[2] = {static_cast<uint8_t>(f.fid >> 8), static_cast<uint8_t>(f.fid)};
  PutTlv(inner, 0x83, fid);
  if (f.kind == FileKind::DF && !f.name.empty()) PutTlv(inner, 0x84, f.name);
  if (!f.ac.empty()) PutTlv(inner, 0x86, f.ac);
  Bytes out;
  PutTlv(out, 0x6F, inner);
  return out;
}

Bytes SelectAnswer(const Command& c, const FileNode& f) {
  if (!c.le || c.p2 == 0x0C) return Answer(sw::kOk);
  Bytes fcp = Fcp(f);
  if (*c.le < fcp.size()) fcp.resize(*c.le);
  return Answer(std::move(fcp), sw::kOk);
}

void SetCurrent(Context& ctx, Path df, std::optional<uint16_t> ef) {
  ctx.Ch().df = std::move(df);
  ctx.Ch().ef = ef;
}

// Makes `f`, a file of the DF at `dfPath`, current: a DF becomes the current
// DF, an EF the current EF in that DF.
Bytes SelectIn(Context& ctx, const Command& c, Path dfPath, FileNode& f) {
  if (f.kind == FileKind::DF) {
    dfPath.push_back(f.fid);
    SetCurrent(ctx, std::move(dfPath), std::nullopt);
  } else {
    SetCurrent(ctx, std::move(dfPath), f.fid);
  }
  return SelectAnswer(c, f);
}

// Walks a path of file identifiers from `start`; the last one may be an EF.
Bytes SelectPath(Context& ctx, const Command& c, Path start) {
  if (c.data.size() % 2 != 0) Refuse(sw::kWrongLength);
  Path df = std::move(start);
  size_t i = 0;
  // A path from the MF may name the MF itself first.
  if (df.size() == 1 && c.data.size() >= 2 && Fid(c.data, 0) == kMf) i = 2;
  FileNode* cur = Resolve(ctx.st, df);
  if (!cur) Refuse(sw::kFileNotFound);
  for (; i < c.data.size(); i += 2) {
    FileNode* next = cur->kind == FileKind::DF ? Child(*cur, Fid(c.data, i)) : nullptr;
    if (!next) Refuse(sw::kFileNotFound);
    if (next->kind != FileKind::DF) {
      if (i + 2 != c.data.size()) Refuse(sw::kFileNotFound);
      SetCurrent(ctx, df, next->fid);
      return SelectAnswer(c, *next);
    }
    df.push_back(next->fid);
    cur = next;
  }
  SetCurrent(ctx, df, std::nullopt);
  return SelectAnswer(c, *cur);
}

uint32_t DirectEfBytes(const FileNode& df) {
  uint32_t n = 0;
  for (const auto& c : df.children)
    if (c.kind != FileKind::DF) n += c.size;
  return n;
}

uint32_t RecordBytes(const FileNode& f) {
  uint32_t n = 0;
  for (const auto& r : f.records) n += static_cast<uint32_t>(r.size());
  return n;
}

FileNode& CurrentRecordEf(Context& ctx) {
  FileNode& ef = CurrentEf(ctx);
  if (ef.kind != FileKind::Record) Refuse(sw::kIncompatibleFile);
  return ef;
}

// P2 04: record number in P1 of the current EF; an SFI in P2 is not supported.
void CheckRecordP2(const Command& c) {
  if ((c.p2 & 0x07) != 0x04) Refuse(sw::kWrongP1P2);
  if (c.p2 >> 3) Refuse(sw::kFuncNotSupported);
}

}  // namespace

FileNode* Resolve(CardState& st, const Path& path) {
  if (!st.mf || path.empty() || path[0] != st.mf->fid) return nullptr;
  FileNode* cur = &*st.mf;
  for (size_t i = 1; i < path.size(); ++i) {
    cur = cur->kind == FileKind::DF ? Child(*cur, path[i]) : nullptr;
    if (!cur) return nullptr;
  }
  return cur;
}

FileNode& CurrentDf(Context& ctx) {
  FileNode* df = Resolve(ctx.st, ctx.Ch().df);
  if (!df) {
    // The current DF vanished (deleted on another channel, or the card was erased).
    if (!ctx.st.mf) Refuse(sw::kFileNotFound);
    SetCurrent(ctx, {ctx.st.mf->fid}, std::nullopt);
    df = &*ctx.st.mf;
  }
  return *df;
}

FileNode& CurrentEf(Context& ctx) {
  FileNode& df = CurrentDf(ctx);
  if (!ctx.Ch().ef) Refuse(sw::kNoCurrentEf);
  FileNode* ef = Child(df, *ctx.Ch().ef);
  if (!ef || ef->kind == FileKind::DF) {
    ctx.Ch().ef.reset();
    Refuse(sw::kNoCurrentEf);
  }
  return *ef;
}

bool FindByName(FileNode& df, const Bytes& name, Path& path) {
  path.push_back(df.fid);
  if (df.kind == FileKind::DF && !df.name.empty() && df.name == name) return true;
  for (auto& c : df.children)
    if (c.kind == FileKind::DF && FindByName(c, name, path)) return true;
  path.pop_back();
  return false;
}

uint32_t UsedMemory(const FileNode& df) {
  uint32_t n = 0;
  for (const auto& c : df.children) n += c.kind == FileKind::DF ? UsedMemory(c) : c.size;
  return n;
}

void ForgetDeleted(Context& ctx, const Path& deleted) {
  for (auto& ch : ctx.ses.channels) {
    if (ch.df.size() >= deleted.size() && std::equal(deleted.begin(), deleted.end(), ch.df.begin())) {
      ch.df.assign(deleted.begin(), deleted.end() - 1);
      ch.ef.reset();
    }
  }
}

Bytes CmdSelect(Context& ctx, const Command& c) {
  if (c.p2 != 0x00 && c.p2 != 0x04 && c.p2 != 0x0C) Refuse(sw::kWrongP1P2);
  if (!ctx.st.mf) Refuse(sw::kFileNotFound);
  FileNode& df = CurrentDf(ctx);
  const Path cur = ctx.Ch().df;
  const Path mf{ctx.st.mf->fid};
  switch (c.p1) {
    case 0x00: {  // by file identifier; no data selects the MF
      if (c.data.empty()) {
        SetCurrent(ctx, mf, std::nullopt);
        return SelectAnswer(c, *ctx.st.mf);
      }
      if (c.data.size() != 2) Refuse(sw::kWrongLength);
      const uint16_t fid = Fid(c.data, 0);
      if (fid == ctx.st.mf->fid) {
        SetCurrent(ctx, mf, std::nullopt);
        return SelectAnswer(c, *ctx.st.mf);
      }
      // The current DF itself, a child, the parent, then a sibling.
      if (fid == df.fid) {
        SetCurrent(ctx, cur, std::nullopt);
        return SelectAnswer(c, df);
      }
      if (FileNode* f = Child(df, fid)) return SelectIn(ctx, c, cur, *f);
      if (cur.size() > 1) {
        Path parentPath(cur.begin(), cur.end() - 1);
        FileNode* parent = Resolve(ctx.st, parentPath);
        if (parent && parent->fid == fid) {
          SetCurrent(ctx, parentPath, std::nullopt);
          return SelectAnswer(c, *parent);
        }
        if (parent) {
          if (FileNode* s = Child(*parent, fid)) return SelectIn(ctx, c, parentPath, *s);
        }
      }
      Refuse(sw::kFileNotFound);
    }
    case 0x01:    // child DF
    case 0x02: {  // EF of the current DF
      if (c.data.size() != 2) Refuse(sw::kWrongLength);
      const uint16_t fid = Fid(c.data, 0);
      FileNode* f = Child(df, fid);
      if (!f || (c.p1 == 0x01) != (f->kind == FileKind::DF)) Refuse(sw::kFileNotFound);
      return SelectIn(ctx, c, cur, *f);
    }
    case 0x03: {  // parent DF
      if (!c.data.empty()) Refuse(sw::kWrongLength);
      if (cur.size() < 2) Refuse(sw::kFileNotFound);
      Path p(cur.begin(), cur.end() - 1);
      SetCurrent(ctx, p, std::nullopt);
      return SelectAnswer(c, *Resolve(ctx.st, p));
    }
    case 0x04: {  // by DF name; no data selects the MF
      if (c.data.empty()) {
        SetCurrent(ctx, mf, std::nullopt);
        return SelectAnswer(c, *ctx.st.mf);
      }
      if (c.data.size() > 16) Refuse(sw::kWrongLength);
      Path p;
      if (!FindByName(*ctx.st.mf, c.data, p)) Refuse(sw::kFileNotFound);
      SetCurrent(ctx, p, std::nullopt);
      return SelectAnswer(c, *Resolve(ctx.st, p));
    }
    case 0x08:  // path from the MF
      if (c.data.empty()) {
        SetCurrent(ctx, mf, std::nullopt);
        return SelectAnswer(c, *ctx.st.mf);
      }
      return SelectPath(ctx, c, mf);
    case 0x09:  // path from the current DF
      if (c.data.empty()) Refuse(sw::kWrongLength);
      return SelectPath(ctx, c, cur);
    default:
      Refuse(sw::kWrongP1P2);
  }
}

Bytes CmdReadBinary(Context& ctx, const Command& c) {
  if (c.p1 & 0x80) Refuse(sw::kFuncNotSupported);  // short EF identifiers are not supported
  FileNode& ef = CurrentEf(ctx);
  if (ef.kind != FileKind::Transparent) Refuse(sw::kIncompatibleFile);
  RequireAccess(ctx, ef.ac, kAcRead);
  if (!c.le) Refuse(sw::kWrongLength);
  const size_t offset = static_cast<size_t>(c.p1) << 8 | c.p2;
  if (offset >= ef.data.size()) Refuse(sw::kWrongP1P2);
  const size_t n = std::min<size_t>(*c.le, ef.data.size() - offset);
  return Answer(Bytes(ef.data.begin() + static_cast<std::ptrdiff_t>(offset),
                      ef.data.begin() + static_cast<std::ptrdiff_t>(offset + n)),
                sw::kOk);
}

Bytes CmdUpdateBinary(Context& ctx, const Command& c) {
  if (c.p1 & 0x80) Refuse(sw::kFuncNotSupported);
  FileNode& ef = CurrentEf(ctx);
  if (ef.kind != FileKind::Transparent) Refuse(sw::kIncompatibleFile);
  RequireAccess(ctx, ef.ac, kAcUpdate);
  if (c.data.empty()) Refuse(sw::kWrongLength);
  const size_t offset = static_cast<size_t>(c.p1) << 8 | c.p2;
  if (offset > ef.data.size() || c.data.size() > ef.data.size() - offset) Refuse(sw::kNotEnoughMemory);
  std::copy(c.data.begin(), c.data.end(), ef.data.begin() + static_cast<std::ptrdiff_t>(offset));
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdReadRecord(Context& ctx, const Command& c) {
  CheckRecordP2(c);
  FileNode& ef = CurrentRecordEf(ctx);
  RequireAccess(ctx, ef.ac, kAcRead);
  if (c.p1 == 0 || c.p1 > ef.records.size()) Refuse(sw::kRecordNotFound);
  return Answer(ef.records[c.p1 - 1u], sw::kOk);
}

Bytes CmdUpdateRecord(Context& ctx, const Command& c) {
  CheckRecordP2(c);
  FileNode& ef = CurrentRecordEf(ctx);
  RequireAccess(ctx, ef.ac, kAcUpdate);
  if (c.data.empty() || c.data.size() > kMaxRecordLength) Refuse(sw::kWrongLength);
  if (c.p1 == 0 || c.p1 > ef.records.size()) Refuse(sw::kRecordNotFound);
  Bytes& rec = ef.records[c.p1 - 1u];
  if (RecordBytes(ef) - rec.size() + c.data.size() > ef.size) Refuse(sw::kNotEnoughMemory);
  rec = c.data;
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdAppendRecord(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  FileNode& ef = CurrentRecordEf(ctx);
  RequireAccess(ctx, ef.ac, kAcUpdate);
  if (c.data.empty() || c.data.size() > kMaxRecordLength) Refuse(sw::kWrongLength);
  if (ef.records.size() >= kMaxRecords || RecordBytes(ef) + c.data.size() > ef.size) Refuse(sw::kNotEnoughMemory);
  ef.records.push_back(c.data);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

FileNode FileFromTemplate(const Context& ctx, const Bytes& tmpl) {
  auto outer = ParseTlvs(tmpl);
  if (!outer || outer->size() != 1) Refuse(sw::kWrongData);
  const Tlv& t = (*outer)[0];
  const bool m410 = t.tag == 0x62;
  if (t.tag != 0x6F && !(m410 && ctx.ver.m410Forms)) Refuse(sw::kWrongData);
  auto in = ParseTlvs(t.value);
  if (!in) Refuse(sw::kWrongData);
  const Tlv* desc = FindTag(*in, 0x82);
  const Tlv* fid = FindTag(*in, 0x83);
  if (!desc || desc->value.empty() || !fid || fid->value.size() != 2) Refuse(sw::kWrongData);
  FileNode f;
  f.fid = Fid(fid->value, 0);
  if (f.fid == 0x3F00 || f.fid == 0xFFFF) Refuse(sw::kWrongData);
  f.descriptor = desc->value[0];
  const uint8_t structure = f.descriptor & 0x07;
  if (f.descriptor == 0x38) f.kind = FileKind::DF;
  else if (structure == 1) f.kind = FileKind::Transparent;
  else if (structure >= 2 && structure <= 6) f.kind = FileKind::Record;
  else Refuse(sw::kWrongData);
  const Tlv* s80 = FindTag(*in, 0x80);
  const Tlv* s81 = FindTag(*in, 0x81);
  const Tlv* s85 = FindTag(*in, 0x85);
  auto size2 = [](const Tlv* x) -> std::optional<uint32_t> {
    if (!x || x->value.size() < 2) return std::nullopt;
    const size_t n = x->value.size();
    return static_cast<uint32_t>(x->value[n - 2] << 8 | x->value[n - 1]);
  };
  if (f.kind == FileKind::DF) {
    // The quota stands in 85 (xx SS SS); 81 carries FF FF or 00 00 in the DF forms.
    auto q = s85 && s85->value.size() == 3 ? size2(s85) : std::nullopt;
    if (!q || *q == 0) {
      auto s = size2(s81);
      if (s && *s != 0xFFFF) q = s;
    }
    f.size = q.value_or(0);
    if (const Tlv* name = FindTag(*in, 0x84)) {
      if (name->value.size() > 16) Refuse(sw::kWrongData);
      f.name = name->value;
    }
  } else {
    auto s = size2(s80 ? s80 : s81);
    if (!s) Refuse(sw::kWrongData);
    f.size = *s;
    if (f.kind == FileKind::Transparent) f.data.assign(f.size, 0x00);
  }
  if (const Tlv* ac = FindTag(*in, 0x86)) f.ac = ac->value;
  if (const Tlv* sm = FindTag(*in, m410 ? 0xCB : 0x8B)) f.sm = sm->value;
  else if (const Tlv* sm2 = FindTag(*in, 0xCB)) f.sm = sm2->value;
  return f;
}

Bytes CmdCreateFile(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  if (c.data.empty()) Refuse(sw::kWrongLength);
  FileNode& df = CurrentDf(ctx);
  RequireAdminPhase(ctx);
  FileNode f = FileFromTemplate(ctx, c.data);
  if (Child(df, f.fid)) Refuse(sw::kFileExists);
  if (f.kind == FileKind::DF && !f.name.empty()) {
    Path ignored;
    if (FindByName(*ctx.st.mf, f.name, ignored)) Refuse(sw::kNameExists);
  }
  if (f.kind != FileKind::DF) {
    if (df.size != 0 && DirectEfBytes(df) + f.size > df.size) Refuse(sw::kNotEnoughMemory);
    if (UsedMemory(*ctx.st.mf) + f.size > static_cast<uint32_t>(ctx.st.memoryKb) * 1024u) Refuse(sw::kNotEnoughMemory);
  }
  const uint16_t fid = f.fid;
  const bool isDf = f.kind == FileKind::DF;
  df.children.push_back(std::move(f));
  // The new file becomes the current one.
  if (isDf) {
    Path p = ctx.Ch().df;
    p.push_back(fid);
    SetCurrent(ctx, p, std::nullopt);
  } else {
    ctx.Ch().ef = fid;
  }
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdDeleteFile(Context& ctx, const Command& c) {
  if (c.p1 != 0 || c.p2 != 0) Refuse(sw::kWrongP1P2);
  FileNode& df = CurrentDf(ctx);
  uint16_t fid;
  if (c.data.empty()) {
    if (!ctx.Ch().ef) Refuse(sw::kNoCurrentEf);
    fid = *ctx.Ch().ef;
  } else {
    if (c.data.size() != 2) Refuse(sw::kWrongLength);
    fid = Fid(c.data, 0);
  }
  auto it = std::find_if(df.children.begin(), df.children.end(), [&](const FileNode& f) { return f.fid == fid; });
  if (it == df.children.end()) Refuse(sw::kFileNotFound);
  RequireAdminPhase(ctx);
  if (it->kind != FileKind::DF) RequireAccess(ctx, it->ac, kAcDelete);
  Path deleted = ctx.Ch().df;
  deleted.push_back(fid);
  const bool wasDf = it->kind == FileKind::DF;
  df.children.erase(it);
  for (auto& ch : ctx.ses.channels)
    if (ch.df.size() + 1 == deleted.size() && std::equal(ch.df.begin(), ch.df.end(), deleted.begin()) && ch.ef == fid)
      ch.ef.reset();
  if (wasDf) ForgetDeleted(ctx, deleted);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

Bytes CmdPutDataFci(Context& ctx, const Command& c) {
  auto tlvs = ParseTlvs(c.data);
  if (!tlvs || tlvs->empty()) Refuse(sw::kWrongData);
  FileNode* target = nullptr;
  if (ctx.Ch().ef) {
    target = &CurrentEf(ctx);
    RequireAccess(ctx, target->ac, kAcUpdate);
  } else {
    target = &CurrentDf(ctx);
  }
  struct {
    Bytes ac, sm, name;
    FileKind kind;
  } updated{target->ac, target->sm, target->name, target->kind};
  for (const auto& t : *tlvs) {
    switch (t.tag) {
      case 0x86:
        if (t.value.empty() || t.value.size() > 16) Refuse(sw::kWrongData);
        updated.ac = t.value;
        break;
      case 0x8B:
      case 0xCB:
        if (t.value.size() > 32) Refuse(sw::kWrongData);
        updated.sm = t.value;
        break;
      case 0x84: {
        if (updated.kind != FileKind::DF || t.value.empty() || t.value.size() > 16) Refuse(sw::kWrongData);
        Path found;
        if (FindByName(*ctx.st.mf, t.value, found) && Resolve(ctx.st, found) != target) Refuse(sw::kNameExists);
        updated.name = t.value;
        break;
      }
      default:
        Refuse(sw::kWrongData);
    }
  }
  target->ac = std::move(updated.ac);
  target->sm = std::move(updated.sm);
  target->name = std::move(updated.name);
  ctx.dirty = true;
  return Answer(sw::kOk);
}

}  // namespace vexa::vcard
