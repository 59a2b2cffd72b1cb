#pragma once

// An anonymous pipe as the C library gives one, and the calls on its descriptors: POSIX's, or
// the same calls of Windows' C library.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstddef>

namespace tandra::test {

// Makes a pipe: ends[0] reads, ends[1] writes, both binary. 0 when it is made.
inline int openPipe(int ends[2]) {
#if defined(_WIN32)
  return ::_pipe(ends, 1 << 16, _O_BINARY);
#else
  return ::pipe(ends);
#endif
}

// Writes up to `count` bytes to a descriptor: what the system took, or -1.
inline long writeSome(int descriptor, const void* bytes, std::size_t count) {
#if defined(_WIN32)
  return ::_write(descriptor, bytes, static_cast<unsigned>(count));
#else
  return static_cast<long>(::write(descriptor, bytes, count));
#endif
}

}  // namespace tandra::test
