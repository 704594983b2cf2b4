#pragma once
// What the end-to-end benchmarks share: an offscreen application, a simple
// option reader, order statistics and the process's resident memory.

#include "app/ui/dialogs.h"

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// The program's application object, offscreen unless a platform was chosen.
inline void UseOffscreenPlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The value after `--name`, or `fallback`.
inline long Option(int argc, char **argv, const char *name, long fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0)
      return std::strtol(argv[i + 1], nullptr, 10);
  return fallback;
}
inline bool Flag(int argc, char **argv, const char *name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0)
      return true;
  return false;
}

// The q-quantile (0..1) of the values, nearest rank.
inline double Quantile(std::vector<double> v, double q) {
  if (v.empty())
    return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5));
  return v[i];
}

// Resident memory of this process in KiB (VmRSS), 0 when unknown.
inline long ResidentKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0)
      return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

} // namespace bench
