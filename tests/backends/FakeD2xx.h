#pragma once

// A stand-in for the vendor's D2XX library, built as a shared library (a DLL on Windows) so that
// the loader is tested through dlopen or LoadLibrary and the published C signatures. It records
// what reaches it.
struct FakeD2xxState {
  // Set by the test.
  unsigned long result;  // returned by every call
  unsigned int deviceCount;
  unsigned int queued;      // reported by FT_GetQueueStatus
  unsigned int readLength;  // bytes FT_Read hands over, at most the count asked for
  bool detailHighSpeed;     // the devices listed are high-speed FT232H chips

  // Recorded by the library.
  void* listArg1;
  unsigned int listFlags;
  char openText[64];
  void* lastHandle;
  unsigned long readTimeout;
  unsigned long writeTimeout;
  unsigned char written[300];
  unsigned int writtenCount;
  int latencyCalls;
  unsigned char latency;
  void* latencyHandle;
  int purgeCalls;
  unsigned long purgeMask;
  void* purgeHandle;
  int infoListCalls;
  int openIndex;  // 1 + the index of the device FT_OpenEx opened; 0 while none is open
};

// What FT_OpenEx hands out.
inline void* const kFakeD2xxHandle = reinterpret_cast<void*>(0x5eed);

// Exported by the fake library; reached by the tests through dlsym.
using FakeD2xxStateFn = FakeD2xxState* (*)();
inline constexpr const char* kFakeD2xxStateSymbol = "FakeD2xx_State";
