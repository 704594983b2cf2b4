#pragma once
// The program's error types, and the one error style of every layer.
//
// Logic that fails raises one of these. An error carries its message, the
// fixed text the operator sees (a status text, an error box), and, where a
// system or a database said why, that reason unchanged (errno's words, the
// database's message) with any hint for the operator. Nothing on the way to
// where the error is shown drops the reason. The layers below the session
// raise; the session turns an operation's end into a result class with its
// message; the front ends show message and reason. An error that a window
// handler does not catch ends the handler and is shown in the error box titled
// "Kavrin Programer" (app/ui/guard.h).

#include <QByteArray>
#include <QString>
#include <exception>

namespace base {

class Exception : public std::exception {
public:
  explicit Exception(QString message, QString reason = {})
      : message_(std::move(message)), reason_(std::move(reason)), utf8_(message_.toUtf8()) {}
  const QString &Message() const { return message_; }
  // Why, in the words of whatever failed; empty when nothing more is known.
  const QString &Reason() const { return reason_; }
  const char *what() const noexcept override { return utf8_.constData(); }

private:
  QString message_;
  QString reason_;
  QByteArray utf8_;
};

// A text that is not a number where a number is needed.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// A file that cannot be opened or read.
class EFOpenError : public Exception {
public:
  using Exception::Exception;
};

// The settings file cannot be written.
class EIniFileException : public Exception {
public:
  using Exception::Exception;
};

// The texts these errors carry, built in one place so that they match exactly.
QString NotValidIntegerText(const QString &text);                    // "'%s' is not a valid integer value"
QString CannotOpenFileText(const QString &path, const QString &why); // "Cannot open file "%s". %s"
QString UnableToWriteText(const QString &path);                      // "Unable to write to %s"

} // namespace base
