#pragma once

#include <sys/resource.h>

// A processor time as getrusage gives it, in seconds.
inline double seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}
