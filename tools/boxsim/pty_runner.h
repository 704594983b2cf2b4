#pragma once
// The simulator's process side: a pseudo-terminal, the event loop and the log.
//
// RunBoxSim opens a pty, sets its slave side raw (38400 8N1), prints the slave's
// path as the first line of standard output and keeps a slave descriptor open
// itself, so that the program may close and reopen the port without ending the
// simulation (it also clears the port's exclusive-use mark, which would
// otherwise outlive the program's descriptor and refuse its reopening). One thread runs a poll loop over the master
// side and a self-pipe fed by SIGINT/SIGTERM/SIGHUP: input goes to BoxEngine, its replies through TxScheduler to the
// master. A reply counts as sent once its bytes are written (paced: once the line time of its last byte has passed) and
// the reader on the slave side has taken them all; reply bytes nobody takes within a second are discarded, as a line
// with no listener loses them.

#include "options.h"

namespace boxsim {

// Runs until a stop signal or the watched parent ends; returns the exit status.
int RunBoxSim(const Config &config);

} // namespace boxsim
