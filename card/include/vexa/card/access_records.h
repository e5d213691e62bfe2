// Records copied byte for byte into the objects the card OS creates (files,
// PIN and key objects, security environments), and the enumerations whose
// values go into command bytes as they are. The card OS defines the meaning of
// each byte; a null record pointer means "use the default" given at each record.
#pragma once

#include "vexa/platform/wintypes.h"

// Access conditions of a DF (M4), tag 86 09. Default: nine 00 bytes.
struct DFAC { BYTE ac[9]; };
// Access conditions of an EF (M4), tag 86 09. Default: 00 00 00 FF FF 00 00 FF FF.
struct EFAC { BYTE ac[9]; };
// Secure-messaging conditions of a DF / EF (M4), tag 8B 18. Default: 24 FF bytes.
struct DFSM { BYTE sm[24]; };
struct EFSM { BYTE sm[24]; };
// Access conditions of key and PIN objects (M4), tag 86 07. Default: seven 00 bytes.
struct BSAC { BYTE ac[7]; };
// Secure-messaging conditions of key and PIN objects (M4), tag 8B 10. Default: 16 FF bytes.
struct BSSM { BYTE sm[16]; };
// M4.10 forms.
struct DFAC410 { BYTE ac[10]; };   // tag 86 0A, default ten 00 bytes
struct EFAC410 { BYTE ac[9]; };    // tag 86 09, default as EFAC
struct DFSM410 { BYTE sm[24]; };   // tag CB 18, default 24 FF bytes
struct EFSM410 { BYTE sm[24]; };   // tag CB 18, default 24 FF bytes
struct BSAC410 { BYTE ac[9]; };    // tag 86 09, default nine 00 bytes
struct BSSM410 { BYTE sm[16]; };   // tag CB 10, default 16 FF bytes
// Access and secure-messaging conditions of the MF, and of a security environment.
struct MFAC { BYTE ac[9]; };
struct MFSM { BYTE sm[24]; };
struct SEAC { BYTE ac[2]; };

// An installed code package: identifier and version.
struct PACKAGE {
  BYTE id;
  BYTE version;
};

// Selection mode: the P1 of SELECT FILE.
enum t_PARAM : BYTE {
  SEL_FID = 0,        // by file identifier
  SEL_CHILD_DF = 1,   // child DF
  SEL_EF = 2,         // EF of the current DF
  SEL_PARENT = 3,     // parent DF
  SEL_DF_NAME = 4,    // by DF name
  SEL_PATH_MF = 8,    // path from the MF
  SEL_PATH_DF = 9,    // path from the current DF
};

// File-descriptor byte of a created EF.
enum t_FILE : BYTE {
  FILE_TRANSPARENT = 0x01,
  FILE_RECORD = 0x05,
  FILE_CODE = 0x21,
};

// Algorithm byte of a key object (values as the card OS defines them).
typedef BYTE t_ALGO;

// Object class of a key or PIN object.
enum t_OBJCLASS : BYTE {
  OBJ_PRIVATE = 0x20,   // private-key objects and PINs
  OBJ_SECOND = 0x21,    // the second half of a key pair
  OBJ_COMP3 = 0x22,
  OBJ_COMP4 = 0x23,
  OBJ_COMP5 = 0x24,
};

// Mechanism bits OR-ed into P1/P2.
enum t_MECHANISM : BYTE {
  MECH_NONE = 0x00,
  MECH_1 = 0x01,
  MECH_80 = 0x80,
};

// Control-reference template of MANAGE SECURITY ENVIRONMENT.
enum t_MSE_CSETAG : BYTE {
  MSE_DST = 0xB6,   // digital signature
  MSE_CT = 0xB8,    // confidentiality
};

// PIN-entry device byte of a PIN object.
typedef BYTE t_DEVICE;

// Key number byte of the system-key commands (their P2).
typedef BYTE t_CHANGEKEYID;
