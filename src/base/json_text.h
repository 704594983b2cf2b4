#pragma once
// JSON text written by hand where the form matters to readers (field order,
// number forms): a string value, quotes included, in UTF-8 with quotes,
// backslashes, control characters and surrogates without a partner escaped.

#include <QByteArray>
#include <QString>

namespace base {

QByteArray JsonString(const QString &value);

} // namespace base
