// The clock of the provider's benchmarks under Wine: seconds from the performance counter.
#pragma once
#include <windows.h>

namespace cspbench {

inline double seconds() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(freq.QuadPart);
}

}  // namespace cspbench
