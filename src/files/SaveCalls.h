#pragma once

namespace tandra {

// The system calls a save makes whose failure nothing else can bring about (a disk that fails
// to flush, a rename refused at the last moment); tests replace them to see the save's answer.
struct SaveCalls {
  int (*fsync)(int descriptor);
  int (*rename)(const char* from, const char* to);
};
SaveCalls& saveCalls();

// A reader of a pipe that takes nothing for this long is taken to be gone; one that takes
// something, however slowly, is waited for (tests shorten it).
inline int stalledPipeReaderMs = 5000;
// How long a pipe that no program has opened to read is waited for (tests shorten it).
inline int pipeReaderWaitMs = 10000;

}  // namespace tandra
