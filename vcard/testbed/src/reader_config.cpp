#include "reader_config.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vexa::testbed {

std::string FindVpcdDriver() {
  if (const char* env = std::getenv("VEXA_VPCD_DRIVER"); env && *env) {
    if (!fs::is_regular_file(env)) throw std::runtime_error(std::string("VEXA_VPCD_DRIVER: no such file ") + env);
    return env;
  }
  std::vector<fs::path> dirs;
#ifdef VEXA_PCSC_DROPDIR
  dirs.emplace_back(fs::path(VEXA_PCSC_DROPDIR) / "serial");
#endif
  dirs.emplace_back("/usr/lib/pcsc/drivers/serial");
  dirs.emplace_back("/usr/local/lib/pcsc/drivers/serial");
  for (const auto& dir : dirs) {
    std::error_code ec;
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("libifdvpcd.so", 0) == 0 && fs::is_regular_file(e.path(), ec)) found.push_back(e.path());
    }
    if (found.empty()) continue;
    // "libifdvpcd.so" (the link to the installed version) sorts first.
    std::sort(found.begin(), found.end());
    return found.front().string();
  }
  throw std::runtime_error("the vpcd reader driver (libifdvpcd.so, Debian package vsmartcard-vpcd) is not installed");
}

std::string EntryName(int k) { return std::string("Vexa Reader ") + static_cast<char>('A' + k); }

void WriteReaderConfig(const std::string& confDir, const std::string& driverDir,
                       const std::vector<ReaderEntry>& entries) {
  const std::string driver = FindVpcdDriver();
  fs::create_directories(confDir);
  fs::create_directories(driverDir);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const fs::path copy = fs::path(driverDir) / ("libifdvpcd-" + std::to_string(k) + ".so");
    fs::copy_file(driver, copy, fs::copy_options::overwrite_existing);
    const fs::path conf = fs::path(confDir) / ("vexa-reader-" + std::to_string(k));
    std::ofstream out(conf);
    out << "FRIENDLYNAME \"" << entries[k].name << "\"\n"
        << "DEVICENAME /dev/null:" << entries[k].port << "\n"
        << "LIBPATH " << copy.string() << "\n"
        << "CHANNELID " << entries[k].port << "\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write " + conf.string());
  }
}

}  // namespace vexa::testbed
