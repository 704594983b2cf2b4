#pragma once
// The program's error types. An error that a handler does not catch ends the
// handler and is shown in the error box titled "Kavrin Programer" (see
// ui/guard.h); every error carries only its message text.

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception {
public:
  explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
  const QString &Message() const { return message_; }
  const char *what() const noexcept override { return utf8_.constData(); }

private:
  QString message_;
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
