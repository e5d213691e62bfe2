// Encodes and parses card directories of 10, 100 and 1000 entries and prints
// the cost per entry. Appending a member extends the content buffer
// geometrically, so the cost per entry should stay flat as the directory grows.
#include <chrono>
#include <cstdio>
#include <vector>

#include "vexa/asn1/asn1.h"

namespace {

using Clock = std::chrono::steady_clock;

const BYTE kAttr[] = {0x30, 0x0A, 0x06, 0x04, 0x03, 0x00, 0x00, 0x00, 0x04, 0x02, 0x41, 0x42};
const BYTE kPath[] = {0x3F, 0x00};
const BYTE kAid[] = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B};
const BYTE kLabel[] = {'P', 'I', 'N'};

volatile DWORD gSink;  // keeps results alive

// One directory holding `entries` entries, spread over the five lists.
std::vector<BYTE> EncodeDirectory(int entries) {
  CGDOObjects lists[5];
  for (int i = 0; i < entries; ++i) {
    BYTE id[2] = {static_cast<BYTE>(i >> 8), static_cast<BYTE>(i)};
    switch (i % 5) {
      case 0: {
        CSecObject o;
        o.SetLabel(kLabel, sizeof kLabel);
        o.SetID(static_cast<BYTE>(i));
        o.SetMinLen(4);
        o.SetMaxLen(8);
        o.SetPrvAttributes(kAttr, sizeof kAttr);
        lists[0].SetObject(&o, 0);
        break;
      }
      case 1: {
        CRsaObject o;
        o.SetPath(kPath, sizeof kPath);
        o.SetKeyType(1);
        o.SetKeyAlgo(2);
        o.SetKeyUsage(3);
        o.SetKeySize(2048);
        o.SetPrvID(static_cast<BYTE>(i));
        o.SetPrvAttributes(kAttr, sizeof kAttr);
        o.SetPubID(id);
        lists[1].SetObject(&o, 0);
        break;
      }
      case 2: {
        CCertObject o;
        o.SetUsage(1);
        o.SetID(id);
        o.SetAttributes(kAttr, sizeof kAttr);
        lists[2].SetObject(&o, 0);
        break;
      }
      case 3: {
        CDataObject o;
        o.SetPath(kPath, sizeof kPath);
        o.SetAccess(1);
        o.SetID(id);
        o.SetAttributes(kAttr, sizeof kAttr);
        lists[3].SetObject(&o, 0);
        break;
      }
      default: {
        CDes3Object o;
        o.SetUsage(4);
        o.SetID(id);
        o.SetAttributes(kAttr, sizeof kAttr);
        lists[4].SetObject(&o, 0);
        break;
      }
    }
  }
  CGDO gdo;
  gdo.SetVersion(CGDO::VERSION_2);
  gdo.SetAID(kAid, sizeof kAid);
  gdo.SetLabel(kLabel, sizeof kLabel);
  for (auto& l : lists) l.SetObject(nullptr, 1);
  gdo.SetSecurityObject(&lists[0]);
  gdo.SetRSAObject(&lists[1]);
  gdo.SetCertificateObject(&lists[2]);
  gdo.SetDataObject(&lists[3]);
  gdo.SetDes3Object(&lists[4]);
  DWORD size = 0;
  gdo.EncodeObjectToData(nullptr, &size);
  std::vector<BYTE> out(size);
  gdo.EncodeObjectToData(out.data(), &size);
  return out;
}

template <class T>
int ParseEntries(const CGDOObjects& list) {
  DWORD n = 0;
  list.GetObjectA(nullptr, &n);
  std::vector<CAsn1Obj> entries(n);
  if (n) list.GetObjectA(entries.data(), &n);
  int ok = 0;
  for (const auto& e : entries) {
    T o(e.GetValue(), e.GetLength());
    DWORD len = 0;
    ok += o.IsComplete() && o.GetAID(nullptr, &len) != ASN1_ERR_MEMORY;
  }
  return ok;
}

// Parses the directory the way the engine loads it; returns the entries read.
int ParseDirectory(const std::vector<BYTE>& bytes) {
  CGDO gdo;
  if (gdo.CreateByEncodedData(bytes.data(), static_cast<DWORD>(bytes.size()))) return -1;
  CGDOObjects sec, rsa, cert, data, des;
  gdo.GetSecurityObject(&sec);
  gdo.GetRSAObject(&rsa);
  gdo.GetCertificateObject(&cert);
  gdo.GetDataObject(&data);
  gdo.GetDes3Object(&des);
  return ParseEntries<CSecObject>(sec) + ParseEntries<CRsaObject>(rsa) + ParseEntries<CCertObject>(cert) +
         ParseEntries<CDataObject>(data) + ParseEntries<CDes3Object>(des);
}

// Appends `n` small members to one sequence (the bare append cost).
void AppendMembers(int n) {
  CSequence seq;
  const BYTE v[4] = {1, 2, 3, 4};
  COctetString member(v, sizeof v);
  for (int i = 0; i < n; ++i) seq.AddAsn1Obj(&member);
  gSink = seq.GetLength();
}

template <class F>
double NanosPerEntry(int entries, F f) {
  // Enough repetitions for about 200 000 entries of work per run; the best
  // of three runs, since the machine is shared.
  int reps = 200000 / entries;
  double best = 0;
  for (int run = 0; run < 3; ++run) {
    auto t0 = Clock::now();
    for (int r = 0; r < reps; ++r) f();
    auto t1 = Clock::now();
    double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / (static_cast<double>(reps) * entries);
    if (run == 0 || ns < best) best = ns;
  }
  return best;
}

}  // namespace

int main() {
  std::printf("card directory encode/parse, cost per entry\n");
  std::printf("%8s %10s %14s %14s %14s\n", "entries", "octets", "encode ns", "parse ns", "append ns");
  double base[3] = {0, 0, 0};
  for (int entries : {10, 100, 1000}) {
    std::vector<BYTE> bytes = EncodeDirectory(entries);
    if (ParseDirectory(bytes) != entries) {
      std::printf("directory of %d entries did not parse back\n", entries);
      return 1;
    }
    double enc = NanosPerEntry(entries, [&] { gSink = static_cast<DWORD>(EncodeDirectory(entries).size()); });
    double par = NanosPerEntry(entries, [&] { gSink = static_cast<DWORD>(ParseDirectory(bytes)); });
    double app = NanosPerEntry(entries * 10, [&] { AppendMembers(entries * 10); });
    if (entries == 10) base[0] = enc, base[1] = par, base[2] = app;
    std::printf("%8d %10zu %14.1f %14.1f %14.1f   (x%.2f / x%.2f / x%.2f of 10 entries)\n", entries, bytes.size(), enc,
                par, app, enc / base[0], par / base[1], app / base[2]);
  }
  return 0;
}
