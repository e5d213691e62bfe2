// Test helpers: a private temporary folder, files, hex, and running the
// openssl command line.
#pragma once

#include <string>
#include <vector>

namespace cryptotest {

using Bytes = std::vector<unsigned char>;

// A fresh folder under $TMPDIR (or /tmp), removed with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

Bytes FromHex(const std::string& hex);
std::string ToHex(const unsigned char* p, std::size_t n);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);
void WriteFile(const std::string& path, const std::string& text);

// Runs "openssl <args>" through the shell; returns its standard output and sets
// *status to its exit status. Standard error goes to the test log.
std::string Openssl(const std::string& args, int* status = nullptr);

// A writable C string for the library's char* parameters.
struct CStr {
  explicit CStr(const std::string& s) : buf(s.begin(), s.end()) { buf.push_back('\0'); }
  operator char*() { return buf.data(); }
  std::vector<char> buf;
};

}  // namespace cryptotest
