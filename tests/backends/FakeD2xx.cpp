// Exports the D2XX functions with the signatures of the vendor's headers: DWORD is unsigned int,
// ULONG (and so FT_STATUS) unsigned long, which on Windows are both 32 bits.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "FakeD2xx.h"

#if defined(_WIN32)
#define EXPORTED extern "C" __declspec(dllexport)
#else
#define EXPORTED extern "C" __attribute__((visibility("default")))
#endif

#if !defined(FAKE_D2XX_ATTACHED)
#define FAKE_D2XX_ATTACHED 0
#endif

namespace {
// A fresh process finds as many devices attached as the build says.
FakeD2xxState state = [] {
  FakeD2xxState attached{};
  attached.deviceCount = FAKE_D2XX_ATTACHED;
  return attached;
}();
}  // namespace

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
  if (state.result == 0) state.openIndex = 1;
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
  state.openIndex = 0;
  return state.result;
}

// Device i is serial FT5EED0i, an FT232R (0403:6001) or, with detailHighSpeed, an FT232H
// (0403:6014) at high speed; the last one opened is listed as open with its handle.
EXPORTED unsigned long FT_CreateDeviceInfoList(unsigned int* count) {
  ++state.infoListCalls;
  *count = state.deviceCount;
  return state.result;
}

EXPORTED unsigned long FT_GetDeviceInfoDetail(unsigned int index, unsigned int* flags,
                                              unsigned int* type, unsigned int* id,
                                              unsigned int* location, void* serial,
                                              void* description, void** handle) {
  if (index >= state.deviceCount) return 2;  // FT_DEVICE_NOT_FOUND
  const bool open = state.openIndex == static_cast<int>(index) + 1;
  *flags = (open ? 1u : 0u) | (state.detailHighSpeed ? 2u : 0u);
  *type = state.detailHighSpeed ? 8u : 5u;
  *id = state.detailHighSpeed ? 0x04036014u : 0x04036001u;
  *location = 0x11 + index;
  std::snprintf(static_cast<char*>(serial), 16, "FT5EED0%u", index % 10);
  std::snprintf(static_cast<char*>(description), 64, "Fake Programmer");
  *handle = open ? kFakeD2xxHandle : nullptr;
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
