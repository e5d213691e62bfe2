// The cryptographic library: RSA keys, 3DES and MAC, certificates, PKCS#12,
// digests and names over OpenSSL 3.
#pragma once

#include "vexa/crypto/des3mac.h"
#include "vexa/crypto/dn.h"
#include "vexa/crypto/md.h"
#include "vexa/crypto/pkcs12.h"
#include "vexa/crypto/result.h"
#include "vexa/crypto/rsa.h"
#include "vexa/crypto/x509v3.h"
