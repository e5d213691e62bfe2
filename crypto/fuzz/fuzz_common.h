// Fuzz helpers: the input's first byte picks the reader's options, the rest is
// written to a private file because the readers take a path.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace cryptofuzz {

// The per-process input file, removed when the fuzzer exits.
struct InputFile {
  explicit InputFile(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + name + "." +
           std::to_string(getpid());
  }
  ~InputFile() { std::remove(path.c_str()); }
  std::string path;
};

inline const std::string& InputPath(const char* name) {
  static const InputFile file(name);
  return file.path;
}

inline bool WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace cryptofuzz
