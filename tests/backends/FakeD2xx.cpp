// Exports the D2XX functions with the signatures of the vendor's Linux header: DWORD is
// unsigned int, ULONG (and so FT_STATUS) unsigned long.
#include <algorithm>
#include <cstring>

#include "FakeD2xx.h"

#define EXPORTED __attribute__((visibility("default")))

namespace {
FakeD2xxState state;
}

extern "C" {

EXPORTED FakeD2xxState* FakeD2xx_State() {
  return &state;
}

EXPORTED unsigned long FT_ListDevices(void* arg1, void* arg2, unsigned int flags) {
  state.listArg1 = arg1;
  state.listFlags = flags;
  if ((flags & 0x80000000u) != 0) *static_cast<unsigned int*>(arg1) = state.deviceCount;
  if ((flags & 0x40000000u) != 0) {
    std::strcpy(static_cast<char*>(arg2), (flags & 1u) != 0 ? "FT5EED01" : "Fake Programmer");
  }
  return state.result;
}

EXPORTED unsigned long FT_OpenEx(void* arg1, unsigned int, void** handle) {
  std::strncpy(state.openText, static_cast<const char*>(arg1), sizeof state.openText - 1);
  if (state.result == 0) *handle = kFakeD2xxHandle;
  return state.result;
}

EXPORTED unsigned long FT_SetTimeouts(void* handle, unsigned long readTimeout,
                                      unsigned long writeTimeout) {
  state.lastHandle = handle;
  state.readTimeout = readTimeout;
  state.writeTimeout = writeTimeout;
  return state.result;
}

EXPORTED unsigned long FT_GetQueueStatus(void* handle, unsigned int* rxBytes) {
  state.lastHandle = handle;
  *rxBytes = state.queued;
  return state.result;
}

EXPORTED unsigned long FT_Write(void* handle, void* buffer, unsigned int count,
                                unsigned int* written) {
  state.lastHandle = handle;
  state.writtenCount = std::min<unsigned int>(count, sizeof state.written);
  std::memcpy(state.written, buffer, state.writtenCount);
  *written = state.writtenCount;
  return state.result;
}

#ifndef FAKE_D2XX_NO_READ
EXPORTED unsigned long FT_Read(void* handle, void* buffer, unsigned int count,
                               unsigned int* received) {
  state.lastHandle = handle;
  *received = std::min(count, state.readLength);
  for (unsigned int i = 0; i < *received; ++i) {
    static_cast<unsigned char*>(buffer)[i] = static_cast<unsigned char>(0xA0 + i);
  }
  return state.result;
}
#endif

EXPORTED unsigned long FT_Close(void* handle) {
  state.lastHandle = handle;
  return state.result;
}

EXPORTED unsigned long FT_Purge(void* handle, unsigned long mask) {
  ++state.purgeCalls;
  state.purgeMask = mask;
  state.purgeHandle = handle;
  return state.result;
}

#ifndef FAKE_D2XX_NO_LATENCY_TIMER
EXPORTED unsigned long FT_SetLatencyTimer(void* handle, unsigned char latency) {
  ++state.latencyCalls;
  state.latency = latency;
  state.latencyHandle = handle;
  return state.result;
}
#endif

}  // extern "C"
