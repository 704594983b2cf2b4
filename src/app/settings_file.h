#pragma once
// sysset.ini: an initialisation file (sections in brackets, key=value lines).
// Reads fall back to a default when the file, section or key is missing; a
// write replaces or adds one key and leaves every other line as it was.

#include <QString>

namespace app {

class SettingsFile {
public:
  explicit SettingsFile(QString path) : path_(std::move(path)) {}

  const QString &Path() const { return path_; }

  // The key's value, trimmed; the default when file, section or key is missing.
  QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;

  // Writes the key (creating folder, file, section and key as needed). Raises
  // EIniFileException "Unable to write to <path>" when the file cannot be written.
  void WriteString(const QString &section, const QString &key, const QString &value) const;

private:
  QString path_;
};

// The port choice: section "comx", key "num", default "COM5".
inline const QString kPortSection = QStringLiteral("comx");
inline const QString kPortKey = QStringLiteral("num");
inline const QString kDefaultPortName = QStringLiteral("COM5");

// The production record store: section "records", key "url" (absent: the
// default SQLite file; "off": no records).
inline const QString kRecordsSection = QStringLiteral("records");
inline const QString kRecordsKey = QStringLiteral("url");

// The operator's language: section "ui", key "language", "zh" (the designed
// texts) or "en"; absent: the system locale's (base/language.h).
inline const QString kUiSection = QStringLiteral("ui");
inline const QString kLanguageKey = QStringLiteral("language");

// The production view: section "production"; "start_key" names the key that
// starts every ready box (QKeySequence's portable text, default "Space"),
// "mute" is 1 when the verdict sounds are off.
inline const QString kProductionSection = QStringLiteral("production");
inline const QString kStartKeyKey = QStringLiteral("start_key");
inline const QString kMuteKey = QStringLiteral("mute");

// The line view: section "line"; "amber_minutes" is how long a station stands
// idle before its row turns amber (whole minutes, default 10).
inline const QString kLineSection = QStringLiteral("line");
inline const QString kAmberMinutesKey = QStringLiteral("amber_minutes");

} // namespace app
