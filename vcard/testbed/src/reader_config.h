// pcscd's reader configuration for the vpcd virtual readers: one file per
// entry, each entry with its own copy of the driver (entries that share one
// driver file share its slot state and break each other).
#pragma once

#include <string>
#include <vector>

namespace vexa::testbed {

// The vpcd driver file: $VEXA_VPCD_DRIVER, else the libifdvpcd.so* found in
// pcsc-lite's serial driver folder. Throws std::runtime_error when absent.
std::string FindVpcdDriver();

// The friendly name of entry k: "Vexa Reader A", "Vexa Reader B", ...
std::string EntryName(int k);

struct ReaderEntry {
  std::string name;  // friendly name; pcscd lists "<name> 00 00" and "<name> 00 01"
  int port = 0;      // slot 00 on port, slot 01 on port + 1
};

// Writes confDir/vexa-reader-<k> for every entry and its driver copy
// driverDir/libifdvpcd-<k>.so. Throws std::runtime_error on a file error.
void WriteReaderConfig(const std::string& confDir, const std::string& driverDir,
                       const std::vector<ReaderEntry>& entries);

}  // namespace vexa::testbed
