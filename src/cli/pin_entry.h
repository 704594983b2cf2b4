#pragma once
// The engineer PIN of a new job, never from the command line (where other
// users of the machine could read it): on a terminal it is asked for on
// standard error without echo, twice; otherwise it is the first line of
// standard input.

#include <QByteArray>
#include <QString>

namespace cli {

struct PinEntry {
  QByteArray pin; // without its line end; the caller wipes it (job::Wipe)
  QString error;  // why there is none
};

PinEntry ReadPin();

} // namespace cli
