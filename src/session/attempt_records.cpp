#include "session/attempt_records.h"

#include "records/recorder.h"

#include <QCryptographicHash>

namespace session {

QString Sha256Hex(const QByteArray &bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

AttemptRecords::AttemptRecords(records::Recorder *recorder, QString frontEnd)
    : recorder_(recorder), frontEnd_(std::move(frontEnd)) {}

void AttemptRecords::Add(const Attempt &attempt, const QString &serial) {
  if (!recorder_)
    return;
  records::Record r = MakeRecord(attempt, frontEnd_);
  r.serial = serial;
  recorder_->Add(std::move(r));
}

} // namespace session
