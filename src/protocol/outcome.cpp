#include "protocol/outcome.h"

namespace protocol {

QString OutcomeName(Outcome outcome) {
  switch (outcome) {
  case Outcome::Ok:
    return QStringLiteral("ok");
  case Outcome::FileRefused:
    return QStringLiteral("file-refused");
  case Outcome::PortUnavailable:
    return QStringLiteral("port-unavailable");
  case Outcome::BoxFailed:
    return QStringLiteral("box-failed");
  case Outcome::VerifyMismatch:
    return QStringLiteral("verify-mismatch");
  case Outcome::NoAnswer:
    return QStringLiteral("no-answer");
  case Outcome::PortLost:
    return QStringLiteral("port-lost");
  case Outcome::ReadProtected:
    return QStringLiteral("read-protected");
  case Outcome::Interrupted:
    return QStringLiteral("interrupted");
  case Outcome::Cancelled:
    return QStringLiteral("cancelled");
  case Outcome::NotRecorded:
    return QStringLiteral("not-recorded");
  }
  return {};
}

} // namespace protocol
