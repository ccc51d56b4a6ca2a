// Times Wine's own plain 1 ms sleep, as many times as an update polls a frame that is never
// acknowledged, and prints the mean in microseconds. The pause tests compare the updater's 1 ms
// pauses with it, measured in the same prefix at the same time.

#include <windows.h>

#include <cstdio>

int main() {
  constexpr int kPauses = 3002;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < kPauses; ++i) Sleep(1);
  QueryPerformanceCounter(&end);
  const double microseconds = 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart);
  std::printf("%.1f\n", microseconds / kPauses);
  return 0;
}
