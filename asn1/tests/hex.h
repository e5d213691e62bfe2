// Test helpers: hand-written hex fixtures and the two-call encode.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include "vexa/asn1/asn1.h"

using Octets = std::vector<BYTE>;

// "30 03 02 01 05" -> octets (spaces and newlines ignored).
inline Octets Hex(const std::string& text) {
  Octets out;
  int nibble = -1;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
    int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(static_cast<BYTE>(nibble * 16 + v));
      nibble = -1;
    }
  }
  return out;
}

inline Octets operator+(Octets a, const Octets& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Octets Bytes(const std::string& s) { return Octets(s.begin(), s.end()); }

// Encodes with the size query first; an encoding failure gives an empty result.
template <class T>
Octets Encode(const T& obj) {
  DWORD size = 0;
  if (obj.EncodeObjectToData(nullptr, &size) != 0) return {};
  Octets out(size);
  if (obj.EncodeObjectToData(out.data(), &size) != 0) return {};
  out.resize(size);
  return out;
}

inline Octets ValueOf(const CAsn1Obj& o) {
  return o.GetValue() ? Octets(o.GetValue(), o.GetValue() + o.GetLength()) : Octets();
}

// Reads a (buffer|null, &length) getter into a vector.
template <class G>
DWORD ReadBytes(G getter, Octets& out) {
  DWORD n = 0;
  if (DWORD r = getter(nullptr, &n)) return r;
  out.assign(n, 0);
  DWORD r = getter(out.data(), &n);
  out.resize(n);
  return r;
}

inline DWORD Len(const Octets& o) { return static_cast<DWORD>(o.size()); }
