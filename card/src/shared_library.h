// A shared library loaded at run time, unloaded when the owner goes.
#pragma once

#include <dlfcn.h>

#include <string>

namespace vexa::card {

class SharedLibrary {
 public:
  explicit SharedLibrary(const std::string& path) noexcept
      : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~SharedLibrary() {
    if (m_handle != nullptr) dlclose(m_handle);
  }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool Loaded() const noexcept { return m_handle != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const noexcept {
    return m_handle != nullptr ? dlsym(m_handle, name) : nullptr;
  }

 private:
  void* m_handle;
};

}  // namespace vexa::card
