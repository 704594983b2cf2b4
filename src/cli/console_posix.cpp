// The command line's console on POSIX systems.
#include "cli/console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {

void WriteStdout(const QByteArray &bytes) {
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
  std::fflush(stdout);
}

void WriteStderr(const QByteArray &bytes) {
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
  std::fflush(stderr);
}

bool StderrIsTerminal() {
  const char *term = std::getenv("TERM");
  return isatty(STDERR_FILENO) && !(term && std::strcmp(term, "dumb") == 0);
}

int StderrColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    return size.ws_col;
  return 80;
}

} // namespace cli
