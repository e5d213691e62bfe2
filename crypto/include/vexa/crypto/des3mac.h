// C3Des_Mac: 3DES-EDE CBC encryption and decryption and a DES/3DES CBC MAC
// (ISO/IEC 9797-1 MAC algorithm 3 when key 3 equals key 1), used for card secure
// messaging and for random DES key material.
//
// Input and output buffers are borrowed (never freed by the object); copy and
// assignment copy the pointers, the keys and the chaining value. The chaining
// value (IV) evolves with every operation until setIV resets it.
// Results: 0, DES_ERR_NO_KEYS (-180), DES_ERR_NO_INPUT (-190).
#pragma once

#include "vexa/crypto/result.h"
#include "vexa/platform/export.h"
#include "vexa/platform/secure.h"

class VEXA_API C3Des_Mac {
 public:
  C3Des_Mac();
  // As initializeKeys with three raw 8-byte keys, then input, output, length and
  // the 8-byte IV set; mechanism 3.
  C3Des_Mac(unsigned char* in, unsigned char* out, long len, unsigned char* const iv,
            unsigned char* const k1, unsigned char* const k2, unsigned char* const k3);
  // As initializeKeys with three NUL-terminated pass strings, then input,
  // output, length and IV; mechanism 3.
  C3Des_Mac(unsigned char* in, unsigned char* out, long len, unsigned char* const iv,
            char* s1, char* s2, char* s3);
  C3Des_Mac(const C3Des_Mac& other) = default;
  C3Des_Mac& operator=(const C3Des_Mac& other) = default;
  virtual ~C3Des_Mac();

  // Three raw 8-byte keys, stored as given (no parity change); mechanism 3. 0.
  long initializeKeys(unsigned char* const k1, unsigned char* const k2,
                      unsigned char* const k3);
  // Three NUL-terminated strings, each turned into a key as DES_string_to_key
  // does (odd parity); mechanism unchanged. 0.
  long initializeKeys(char* s1, char* s2, char* s3);
  // One 8-byte key: key 1 only; mechanism 1. 0.
  long initializeKeys(unsigned char* const k);
  // Copies the stored keys out (nothing when no keys are set). 0.
  long getKeys(unsigned char* const k1, unsigned char* const k2, unsigned char* const k3);
  // Copies 8 bytes into the chaining value. 0.
  long setIV(unsigned char* const iv);
  long setIn(unsigned char* in, long len);
  long setOut(unsigned char* out);
  // Stores the low 16 bits of m; 0 when m is 4 or 5, otherwise 1. No operation
  // reads the mechanism.
  long Set_Mechanism(long m);
  short Get_Mechanism() const { return m_sMechanism; }

  // 3DES-EDE CBC encryption of the input into out (which replaces the output
  // pointer). A trailing partial block is padded with zero bytes: out must hold
  // the length rounded up to 8. The last ciphertext block becomes the IV.
  long cifra(unsigned char* out);
  // 3DES-EDE CBC decryption of the input into out; with no input set it
  // returns 0 and writes nothing. The last ciphertext block becomes the IV.
  long decifra(unsigned char* out);
  // 8-byte MAC of the input (length a multiple of 8, at least 8; no padding is
  // added): single-DES CBC with key 1 over all but the last block, 3DES-EDE of
  // the last block. The MAC becomes the IV.
  long mac(unsigned char* out);

  // Fills buf (8 bytes) with a random DES key of odd parity that is neither
  // weak nor semi-weak; the first call in the process feeds the 8 bytes found in
  // buf to the random generator. Returns buf.
  static unsigned char* getRandom(unsigned char* const buf);
  // A random odd-parity DES key that is not weak. 1 on success, 0 on failure.
  int Desdes_random_key(unsigned char (*key)[8]);

 protected:
  // The one-key step of the initialisers: raw key when raw is not null, else
  // derived from s; the 8 key bytes are stored in keyOut.
  void initializeKey(char* s, vexa::SecureBytes& keyOut, unsigned char* raw);

 private:
  short m_sMechanism = -1;
  long m_lLen = 0;
  int m_bKeysSet = 0;
  unsigned char* m_pIn = nullptr;
  unsigned char* m_pOut = nullptr;
  unsigned char m_IV[8] = {};
  vexa::SecureBytes m_Key1, m_Key2, m_Key3;  // 8 bytes each once set
};
