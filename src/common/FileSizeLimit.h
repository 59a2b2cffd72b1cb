#pragma once

#include <csignal>

namespace tandra {

// A write past the file-size limit (`ulimit -f`) would kill the program with SIGXFSZ in the
// middle of a save, leaving half a file behind. Ignored, the write fails with "File too large"
// and the save keeps the old file as after any other failed write. Each program calls this once
// at its start.
inline void letWritesPastTheSizeLimitFail() {
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace tandra
