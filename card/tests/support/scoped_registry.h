// A registry file of a test's own: written to a temporary folder and named by
// VEXA_REGISTRY for the lifetime of the object.
#pragma once

#include <string>

namespace vexa::card::test {

class ScopedRegistry {
 public:
  // text: the lines of the file after the header line.
  explicit ScopedRegistry(const std::string& text);
  ~ScopedRegistry();
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;
  const std::string& Dir() const { return m_dir; }

 private:
  std::string m_dir;
  std::string m_old;
  bool m_hadOld = false;
};

}  // namespace vexa::card::test
