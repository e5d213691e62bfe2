// Result codes of the cryptographic library. Every operation returns 0 (RSA_OK)
// on success and one of these small codes on failure; the meaning of a code
// depends a little on the class that returns it (noted at each one).
#pragma once

inline constexpr long RSA_OK = 0;

// CX509v3::GetIssuer/GetSubject, CPKCS12::Init, CDN::Add_*: OpenSSL could not
// print, parse or add.
inline constexpr long RSA_ERR_OPENSSL = 1;
// CMD: memory allocation failed.
inline constexpr long RSA_ERR_MEMORY = 128;
// CRSA: a required pointer argument is null; GenKeys: generation failed.
// CMD::Init(path): no such file. CX509v3::TransformTime: malformed time.
inline constexpr long RSA_ERR_ARG = 129;
// CRSA: the key part the operation needs is missing, a loaded key does not match
// the present one, or CheckKeys rejected the key.
// CMD: no data to digest. CX509v3: unknown algorithm-output selector.
inline constexpr long RSA_ERR_KEY_PART = 130;
// CRSA: no usable key, output buffer too small, or padding code not allowed.
// CMD: unknown digest type. CX509v3::Init: unknown certificate format.
inline constexpr long RSA_ERR_NO_KEY = 131;
// CRSA::Encrypt: input too long. CMD::CalcolateMD: output buffer smaller than
// the digest. CX509v3 getters, CDN::GetASN1_DN: output buffer too small.
inline constexpr long RSA_ERR_LENGTH = 132;
// CRSA::Encrypt, CRSA::RawSign: the RSA operation failed.
// CX509v3 getters: certificate not initialised. CMD (file): cannot be opened.
inline constexpr long RSA_ERR_ENCRYPT = 133;
// CRSA::Decrypt, CRSA::RawVerify: the RSA operation failed.
inline constexpr long RSA_ERR_DECRYPT = 134;
// CRSA::Sign: signing failed.
inline constexpr long RSA_ERR_SIGN = 135;
// CRSA::Verify, CRSA::PublicDecrypt: verification or recovery failed.
inline constexpr long RSA_ERR_VERIFY = 136;
// Key and PKCS#12 files: the file could not be read or written, or its base64
// text could not be converted.
inline constexpr long RSA_ERR_FILE = 137;
// Key files: DER encoding or decoding of the key failed.
inline constexpr long RSA_ERR_DER = 144;
// CRSA::GetEVP_PKEY: the key could not be handed over; CPKCS12::GetRSA: no key.
inline constexpr long RSA_ERR_HANDOVER = 146;
// CPKCS12::GetX509: no certificate in the PKCS#12 file.
inline constexpr long RSA_ERR_NO_CERT = 147;
// CRSA::CheckKeys: no complete key pair; CRSA::GetKeySize: no key;
// CMD::GetMDtype: not available.
inline constexpr long RSA_ERR_NOT_AVAILABLE = 256;
// Armoured key and PKCS#12 files: the first or the last line does not match.
inline constexpr long RSA_ERR_ARMOUR = 260;
// CX509v3 algorithm getters: the OID has no NID in OpenSSL.
inline constexpr long RSA_ERR_NO_NID = -1;
// C3Des_Mac: no key initialiser has run.
inline constexpr long DES_ERR_NO_KEYS = -180;
// C3Des_Mac::cifra, mac: no input buffer set.
inline constexpr long DES_ERR_NO_INPUT = -190;

// Key-file and PKCS#12 file format codes.
inline constexpr long KEY_FORMAT_DER = 1;         // any code other than 258/259: DER
inline constexpr long KEY_FORMAT_BASE64 = 258;    // the DER as one line of base64
inline constexpr long KEY_FORMAT_ARMOURED = 259;  // base64 between BEGIN/END lines

// Digest type codes used by CRSA::Sign/Verify and CMD (CMD::tTYPE).
inline constexpr int MD_TYPE_SHA1 = 1;
inline constexpr int MD_TYPE_MD5 = 2;
inline constexpr int MD_TYPE_RIPEMD160 = 3;
inline constexpr int MD_TYPE_MD5_SHA1 = 4;  // 36 bytes, signed without DigestInfo

// Buffers that the library allocates for the caller (key parts of
// CRSA::SavePBK/SavePVK, CX509v3::GetBER, CDN::GetASN1_DN) are allocated with
// new[] and belong to the caller, who frees them with delete[]
// (or with CryptoFreeBuffer, which wipes them first).
#include "vexa/platform/export.h"
VEXA_API void CryptoFreeBuffer(unsigned char* buf, unsigned long len) noexcept;
