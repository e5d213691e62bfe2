// Fuzz target for the parsers of card answers: file control information (GET
// FILE SIZE), package lists, the UID record, the checks of protected responses
// and padding removal. The first byte picks the parser; the rest is the answer.
#include <cstddef>
#include <cstdint>
#include <span>

#include "response_parsers.h"
#include "vexa/card/card_sm.h"

namespace {

CCardSM& Sm() {
  static CCardSM sm = [] {
    CCardSM s;
    const BYTE k1[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const BYTE k2[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    s.initializeKeysSM(k1, k2, k1);
    return s;
  }();
  return sm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const BYTE> answer(data + 1, size - 1);
  const BYTE header[16] = {};
  BYTE out[1024];
  DWORD n = sizeof out;
  switch (data[0] % 9) {
    case 0: {
      DWORD fileSize = 0;
      vexa::card::ParseFileSize(answer, &fileSize);
      break;
    }
    case 1: {
      PACKAGE pkgs[21];
      vexa::card::ParsePackages(answer, pkgs, 21);
      break;
    }
    case 2: {
      BYTE uid[7];
      vexa::card::ParseUID(answer, uid);
      break;
    }
    case 3:
      Sm().Response_SM_ENC(answer, out, &n);
      break;
    case 4:
      Sm().Response_SM_SIG(answer, header);
      break;
    case 5:
      Sm().Response_SM_ENC_SIG(answer, header, out, &n);
      break;
    case 6:
      Sm().Response_SM_Suppressed(answer, out, &n);
      break;
    case 7:
      CCardSM::RMPadISO(answer);
      break;
    default:
      CCardSM::RMPadANSI(answer);
      break;
  }
  return 0;
}
