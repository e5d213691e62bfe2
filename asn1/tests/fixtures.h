// A realistic card directory, written out by hand from the directory layout:
// two PINs, an RSA key pair, two certificates, a data object and a 3DES key.
#pragma once

#include "hex.h"

namespace fixture {

// Attribute elements 30 L { 06 Lk key, 04 Lv value } (the engine's blob).
inline const std::string ATTR1 = "30 0A 06 04 03 00 00 00 04 02 41 42";  // label "AB"
inline const std::string ATTR2 = "30 09 06 04 01 00 00 00 04 01 01";     // one octet value

// User PIN: AID, label "PIN", ID 81, lengths 5..8, secure-auth, protected by "PUK", attributes.
inline const std::string PIN1 =
    "30 28  13 02 A0 01  12 03 50 49 4E  04 01 81  02 01 05  02 01 08  01 01 FF  12 03 50 55 4B  31 0C " + ATTR1;
// PUK: path, not initialised, label "PUK", ID 82, bio PIN, lengths 4..16.
inline const std::string PIN2 =
    "30 18  04 02 3F 00  01 01 00  12 03 50 55 4B  04 01 82  01 01 FF  02 01 04  02 01 10";
inline const std::string SECURITY_LIST = "30 4C  04 04 3F 00 11 00  31 44 " + PIN1 + PIN2;

// Key pair: path, SE 1, type 1, algorithm 2, usage 3, 2048 bits, DSI 1,
// secure-auth "PIN", private ID 11, attributes, public ID 10 12.
inline const std::string KEY =
    "30 33  04 02 3F 00  04 01 01  02 01 01  04 01 02  02 01 03  02 04 00 08 00 00  06 01 01"
    "  13 03 50 49 4E  04 01 11  31 0C " + ATTR1 + "  04 02 10 12";
inline const std::string RSA_LIST = "30 3B  13 02 A0 01  31 35 " + KEY;

// The worked certificate entry: usage 1, ID 01 00, one attribute.
inline const std::string CERT1 = "30 15  02 01 01  04 02 01 00  31 0C " + ATTR1;
inline const std::string CERT2 = "30 1C  13 02 A0 01  04 02 3F 00  02 01 02  04 02 01 01  31 0B " + ATTR2;
inline const std::string CERT_LIST = "30 37  31 35 " + CERT1 + CERT2;

inline const std::string DATA = "30 14  02 01 01  04 02 02 00  31 0B " + ATTR2;
inline const std::string DATA_LIST = "30 20  13 02 A0 01  04 02 3F 00  31 16 " + DATA;

inline const std::string DES3 = "30 18  04 02 3F 00  02 01 04  04 02 03 00  31 0B " + ATTR2;
inline const std::string DES3_LIST = "30 1C  31 1A " + DES3;

inline const std::string AID = "A0 00 00 00 63 50 4B";
inline const std::string LABEL = "Tavrix CNS";

// 284 content octets: the long length form 82 01 1C.
inline const std::string HEAD = "02 01 02  13 07 " + AID + "  13 0A 54 61 76 72 69 78 20 43 4E 53 ";
inline const std::string DIRECTORY =
    "30 82 01 1C " + HEAD + SECURITY_LIST + RSA_LIST + CERT_LIST + DATA_LIST + DES3_LIST;

}  // namespace fixture
