// Output files of the demo: the public key as PEM (SubjectPublicKeyInfo) and
// the raw signature, for an independent check with the openssl command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pubkey_template.h"

namespace vexademo {

// Empty on success, else what failed.
std::string WritePublicKeyPem(const std::string& path, const RsaPublicKey& key);
std::string WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// The whole file; false when it cannot be read.
bool ReadBytes(const std::string& path, std::vector<uint8_t>& out);

}  // namespace vexademo
