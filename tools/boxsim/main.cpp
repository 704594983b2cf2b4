// kavrin-boxsim: a simulated programmer box on a pseudo-terminal.
#include "base/version.h"
#include "options.h"
#include "pty_runner.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  const auto parsed = boxsim::ParseArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.config) {
    std::fprintf(stderr, "kavrin-boxsim: %s\n\n%s", parsed.error.c_str(), boxsim::UsageText().c_str());
    return 2;
  }
  if (parsed.config->version) {
    std::printf("%s\n", base::VersionLine("kavrin-boxsim").c_str());
    return 0;
  }
  if (parsed.config->help) {
    std::fputs(boxsim::UsageText().c_str(), stdout);
    return 0;
  }
  return boxsim::RunBoxSim(*parsed.config);
}
