#include "scoped_registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace vexa::card::test {

ScopedRegistry::ScopedRegistry(const std::string& text) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vexacard-reg-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_dir = tmpl;
  const std::string file = m_dir + "/registry.reg";
  std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n" << text;
  if (const char* old = std::getenv("VEXA_REGISTRY")) {
    m_hadOld = true;
    m_old = old;
  }
  setenv("VEXA_REGISTRY", file.c_str(), 1);
}

ScopedRegistry::~ScopedRegistry() {
  if (m_hadOld) {
    setenv("VEXA_REGISTRY", m_old.c_str(), 1);
  } else {
    unsetenv("VEXA_REGISTRY");
  }
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

}  // namespace vexa::card::test
