// A PIN-pad library for the tests: it records the call it receives and answers
// as the test set it up (through the two functions after SCardSPEVerifyPin,
// reached by a test that keeps the library loaded).
#include <algorithm>
#include <cstring>
#include <vector>

#include "vexa/card/pinpad.h"

namespace {
struct Call {
  SCARDHANDLE hCard = 0;
  std::vector<BYTE> request;
  DWORD cbRequest = 0;
  DWORD cbStatus = 0;
  int calls = 0;
};
Call g_call;
LONG g_result = 0;
BYTE g_sw[2] = {0x90, 0x00};
}  // namespace

extern "C" __attribute__((visibility("default"))) LONG SCardSPEVerifyPin(SCARDHANDLE hCard, const BYTE* pbRequest,
                                                                         DWORD cbRequest, BYTE* pbStatus,
                                                                         DWORD cbStatus) {
  g_call.hCard = hCard;
  g_call.request.assign(pbRequest, pbRequest + cbRequest);
  g_call.cbRequest = cbRequest;
  g_call.cbStatus = cbStatus;
  ++g_call.calls;
  if (cbStatus >= 2) std::memcpy(pbStatus, g_sw, 2);
  return g_result;
}

// The answer of the next calls: the library's result and the status bytes.
extern "C" __attribute__((visibility("default"))) void FakePinPadAnswer(LONG result, BYTE sw1, BYTE sw2) {
  g_result = result;
  g_sw[0] = sw1;
  g_sw[1] = sw2;
}

// The last call: card handle, request block (copied into req, 32 bytes), lengths.
extern "C" __attribute__((visibility("default"))) int FakePinPadLastCall(SCARDHANDLE* hCard, BYTE* req,
                                                                         DWORD* cbRequest, DWORD* cbStatus) {
  *hCard = g_call.hCard;
  if (!g_call.request.empty()) std::memcpy(req, g_call.request.data(), std::min<std::size_t>(g_call.request.size(), 32));
  *cbRequest = g_call.cbRequest;
  *cbStatus = g_call.cbStatus;
  return g_call.calls;
}
