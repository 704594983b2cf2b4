// Adds one record through a Recorder and kills itself the moment Add returns,
// as when the program is killed right after an operation ends.
// Arguments: store location, spool path, record_uid.
#include "records/recorder.h"

#include <QCoreApplication>
#include <csignal>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4)
    return 2;
  QString error;
  const auto where = records::ParseStoreUrl(QString::fromUtf8(argv[1]), &error, QString::fromUtf8(argv[2]));
  if (!where)
    return 2;
  records::Recorder recorder(*where);
  records::Record r;
  r.recordUid = QString::fromUtf8(argv[3]);
  r.startedAt = r.finishedAt = QDateTime::currentDateTimeUtc();
  r.result = QStringLiteral("ok");
  r.message = QStringLiteral("killed right after");
  recorder.Add(r);
  raise(SIGKILL);
  return 1;
}
