// The clock of the benchmarks under Wine: seconds from the performance counter.
#pragma once
#include <windows.h>

namespace winbench {

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

}  // namespace winbench
