#pragma once
// Production records of a front end's box sessions: one record per operation
// attempt, written when the attempt ends (BoxSession::AttemptFinished), with
// what the session knows of it (operation, times, outcome, message, bytes
// sent) and what only the front end knows (station, file, chip, settings).
// Attempts that end before a session operation begins (a file refused before
// any port is touched, a port that does not open for the command line) are
// added by the front end directly.
//
// Everything runs on the thread of the sessions and the Recorder; writing a
// record is one local commit (records/recorder.h) and never changes an
// operation's outcome. Without a Recorder (records off) nothing is written.

#include "records/record.h"
#include "session/box_session.h"

#include <QString>
#include <functional>

namespace records {
class Recorder;
}

// The record of one attempt (pure): `details` holds what the front end knows
// (station, port path, mode, power, count, chip, dataflash, file, checksum,
// sectors); the session's part and the front end's name are filled in here.
records::Record MakeRecord(const Attempt &attempt, records::Record details, const QString &frontEnd);

// "online"/"offline" for the mode item, "5v"/"off" for the power item, as the
// command line spells them.
QString ModeName(int modeItem);
QString PowerName(int powerItem);
// Lower-case hex SHA-256 of the file's bytes.
QString Sha256Hex(const QByteArray &bytes);
// The sector mask as 8 upper-case hex digits.
QString SectorsText(uint32_t mask);

class AttemptRecords {
public:
  // `recorder` may be null: records are off.
  AttemptRecords(records::Recorder *recorder, QString frontEnd);

  // Records every attempt of `session`, with the details `details` gives when it ends.
  void Watch(BoxSession &session, std::function<records::Record(const Attempt &)> details);
  // An attempt that ended before a session operation began.
  void Add(const Attempt &attempt, const records::Record &details);

private:
  records::Recorder *recorder_;
  QString frontEnd_;
};
