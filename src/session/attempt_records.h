#pragma once
// Production records of a front end's box sessions: one record per operation
// attempt, made with MakeRecord and added by the front end as the attempt ends
// (BoxSession::AttemptEnded), or directly for attempts that end before a
// session operation begins (a file refused before any port is touched, a port
// that does not open for the command line).
//
// Everything runs on the thread of the sessions and the Recorder; writing a
// record is one local commit (records/recorder.h) and never changes an
// operation's outcome. Without a Recorder (records off) nothing is written.

#include "session/box_session.h"

#include <QByteArray>
#include <QString>

namespace records {
class Recorder;
}

namespace session {

// Lower-case hex SHA-256 of the file's bytes.
QString Sha256Hex(const QByteArray &bytes);

class AttemptRecords {
public:
  // `recorder` may be null: records are off.
  AttemptRecords(records::Recorder *recorder, QString frontEnd);

  // `serial`: the unit's serial number text, for its record.
  void Add(const Attempt &attempt, const QString &serial = {});

private:
  records::Recorder *recorder_;
  QString frontEnd_;
};

} // namespace session
