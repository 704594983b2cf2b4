#pragma once
// Command line of kavrin-boxsim. Pure parsing into a Config; numbers are
// decimal, or hexadecimal with a 0x prefix.

#include "box_engine.h"

#include <optional>
#include <string>
#include <vector>

namespace boxsim {

struct Config {
  BoxOptions box;
  bool paced = false;
  std::string linkPath; // empty: no link
  std::string logPath;  // empty: no log
  bool exitWithParent = false;
  std::optional<long> parentPid;
  bool help = false;
  bool version = false;
};

struct ParseResult {
  std::optional<Config> config; // empty on error
  std::string error;
};

// args: the arguments after the program name.
ParseResult ParseArgs(const std::vector<std::string> &args);
std::optional<long> ParseNumber(const std::string &text, long max);
std::string UsageText();

} // namespace boxsim
