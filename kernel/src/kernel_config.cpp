// Reading the engine's configuration from the registry, and the process-wide
// values the other engine parts ask for.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "kernel_hooks.h"
#include "vexa/kernel/config.h"
#include "vexa/platform/module.h"
#include "vexa/platform/registry.h"
#include "vexa/platform/trace.h"

namespace vexa::kernel {
namespace {

// Written by the start hook before any entry point can run, read-only afterwards.
KernelConfig& Stored() {
  static NoDestructor<KernelConfig> c;
  return *c;
}

std::atomic<long>& Mark() {
  static std::atomic<long> m{0};
  return m;
}

struct Value {
  bool present = false;
  std::vector<BYTE> data;
};

Value Read(const char* name) {
  Value v;
  v.present = RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, name, v.data) == 0;
  return v;
}

// A 32-bit number: the first up to four bytes, little-endian.
DWORD Number(const Value& v) { return RegValueNumber(v.data); }

// A flag is on when its first byte is 1, so it is meant to be stored as dword:1;
// the text "1" (byte 0x31) leaves it off.
bool Flag(const char* name) {
  Value v = Read(name);
  return v.present && !v.data.empty() && v.data[0] == 1;
}

const char* YesNo(bool b) { return b ? "YES" : "NO"; }

std::string KeyName() { return std::string("HKEY_LOCAL_MACHINE\\") + VEXA_REG_KEY; }

}  // namespace

int ReadKernelConfig(KernelConfig& config, std::string& cause) {
  config = KernelConfig{};
  const std::string file = RegistryFilePath(HKEY_LOCAL_MACHINE);

  std::vector<BYTE> aid;
  int rc = RegReadValue(HKEY_LOCAL_MACHINE, VEXA_REG_KEY, "AID", aid);
  if (rc == 1) {
    cause = "the registry key " + KeyName() + " cannot be read from " + file +
            " (missing or malformed file, or no such key); it must hold the value \"AID\"";
    return -1;
  }
  if (rc != 0) {
    cause = "the value \"AID\" is missing from the registry key " + KeyName() + " in " + file;
    return -1;
  }
  if (aid.empty() || aid.size() > 255) {
    char size[24];
    std::snprintf(size, sizeof size, "%zu", aid.size());
    cause = "the value \"AID\" in " + KeyName() + " in " + file + " has " + size +
            " bytes; an application identifier has 1 to 255";
    return -1;
  }
  config.aid = aid;
  vexa::TraceBytes(4, "\tAID", aid.data(), aid.size());

  // A stored 0 counts as absent and takes the default.
  Value v = Read("TokenTimeOut");
  if (v.present && Number(v) != 0) {
    config.slotTimeOutSec = Number(v);
  } else {
    Trace(4, "\tNo TimeOut Found\n");
  }
  Trace(4, "\tSlotTimeOut value %lu sec.\n", static_cast<unsigned long>(config.slotTimeOutSec));

  v = Read("SerializeGDO");
  if (v.present && Number(v) != 0) {
    // Registry numbers are 32-bit; the delay in milliseconds saturates rather than wraps.
    constexpr DWORD kMaxSec = UINT32_MAX / 1000;
    DWORD sec = Number(v) > kMaxSec ? kMaxSec : Number(v);
    config.serializeTimerMs = sec * 1000;
  } else {
    Trace(4, "\tNo SERIALIZATION Timer Found\n");
  }
  Trace(4, "\tSERIALIZATION Timer set at %lu (sec.)\n", static_cast<unsigned long>(config.serializeTimerMs));

  config.compressCerts = Flag("Compress Certs");
  Trace(4, "\tCertificate compression %s\n", YesNo(config.compressCerts));
  config.compressData = Flag("Compress Data");
  Trace(4, "\tGDO Data compression %s\n", YesNo(config.compressData));
  config.softKeyGen = Flag("SoftKeyGen");
  Trace(4, "\tSoftware GenKey %s\n", YesNo(config.softKeyGen));
  config.citrixTS = Flag("CitrixTS");
  Trace(4, "\tCitrix TS support %s\n", YesNo(config.citrixTS));
  config.findCertByID = Flag("FindCertByID");
  Trace(4, "\tFind certificate by ID %s\n", YesNo(config.findCertByID));

  v = Read("GDO_log");
  config.gdoLog = v.present ? Number(v) : 0;
  Trace(4, "\tGDO_log %lu\n", static_cast<unsigned long>(config.gdoLog));
  return 0;
}

const KernelConfig& Config() noexcept { return Stored(); }
void SetConfig(const KernelConfig& config) { Stored() = config; }

void ClearConfig() {
  std::vector<BYTE>().swap(Stored().aid);
  Stored() = KernelConfig{};
}

std::span<const BYTE> DefaultAID() noexcept { return Stored().aid; }
DWORD SlotTimeOutSec() noexcept { return Stored().slotTimeOutSec; }
DWORD SerializeTimerMs() noexcept { return Stored().serializeTimerMs; }
bool CompressCerts() noexcept { return Stored().compressCerts; }
bool CompressData() noexcept { return Stored().compressData; }
bool SoftKeyGen() noexcept { return Stored().softKeyGen; }
bool CitrixTS() noexcept { return Stored().citrixTS; }
bool FindCertByID() noexcept { return Stored().findCertByID; }
DWORD GdoLog() noexcept { return Stored().gdoLog; }

long RefreshMark() noexcept { return Mark().load(); }
void SetRefreshMark(long mark) noexcept { Mark().store(mark); }
long RaiseRefreshMark() noexcept { return Mark().fetch_add(1) + 1; }

}  // namespace vexa::kernel
