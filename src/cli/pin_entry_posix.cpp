// The PIN entry on POSIX systems.
#include "cli/pin_entry.h"

#include "cli/console.h"
#include "job/pin.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace cli {

namespace {

// More than any PIN; a longer line is no PIN.
constexpr qsizetype kMostLineBytes = 1024;

// The terminal as it was, for a signal that ends the program while echo is off.
termios savedTerminal{};

void RestoreAndEnd(int signal) {
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

constexpr std::array kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// One line of standard input, read a byte at a time so that nothing after it
// is taken from the stream.
PinEntry ReadLine() {
  PinEntry entry;
  entry.pin.reserve(kMostLineBytes + 1); // grows in place: no copy of the PIN is left behind in freed memory
  for (;;) {
    char c = 0;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0) {
      entry.error =
          QStringLiteral("cannot read the PIN from standard input: ") + QString::fromLocal8Bit(strerror(errno));
      job::Wipe(entry.pin);
      return entry;
    }
    if (n == 0 || c == '\n')
      break;
    if (entry.pin.size() >= kMostLineBytes) {
      entry.error = QStringLiteral("the PIN's line is longer than %1 bytes").arg(kMostLineBytes);
      job::Wipe(entry.pin);
      return entry;
    }
    entry.pin += c;
  }
  if (entry.pin.endsWith('\r'))
    entry.pin.chop(1);
  if (entry.pin.isEmpty())
    entry.error = QStringLiteral("no PIN was given");
  return entry;
}

} // namespace

PinEntry ReadPin() {
  if (!isatty(STDIN_FILENO))
    return ReadLine();
  if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
    return {{}, QStringLiteral("cannot switch the terminal's echo off: ") + QString::fromLocal8Bit(strerror(errno))};
  std::array<struct sigaction, kEndingSignals.size()> before{};
  struct sigaction restore {};
  restore.sa_handler = RestoreAndEnd;
  sigemptyset(&restore.sa_mask);
  for (size_t i = 0; i < kEndingSignals.size(); ++i)
    sigaction(kEndingSignals[i], &restore, &before[i]);
  termios quiet = savedTerminal;
  quiet.c_lflag &= ~tcflag_t(ECHO);
  quiet.c_lflag |= ECHONL; // the operator still sees the line end
  PinEntry first, second;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) {
    first.error = QStringLiteral("cannot switch the terminal's echo off: ") + QString::fromLocal8Bit(strerror(errno));
  } else {
    WriteStderr("Engineer PIN for the job: ");
    first = ReadLine();
    if (first.error.isEmpty()) {
      WriteStderr("The same PIN again: ");
      second = ReadLine();
      if (second.error.isEmpty() && second.pin != first.pin)
        second.error = QStringLiteral("the two PINs differ");
      if (!second.error.isEmpty()) {
        job::Wipe(first.pin);
        first.error = second.error;
      }
      job::Wipe(second.pin);
    }
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  }
  for (size_t i = 0; i < kEndingSignals.size(); ++i)
    sigaction(kEndingSignals[i], &before[i], nullptr);
  return first;
}

} // namespace cli
