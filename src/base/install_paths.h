#pragma once
// Where the program keeps its settings file and finds the chip type list.
//
// A folder that holds the chip type list beside the executable (a build
// folder, or a folder copied to a bench PC) is a portable install: both files
// stay beside the executable. Any other folder is an installed program: the
// settings file lives in the operator's configuration folder
// ($XDG_CONFIG_HOME/kavrin-programmer/, or ~/.config/kavrin-programmer/), and
// the chip type list comes from there when the operator put one there, else
// from the package's data folder <exe folder>/../share/kavrin-programmer/.
// The choice is made by the list's presence, never by write permission, which
// root always has. Paths are resolved once at start-up; the configuration
// folder is created when the settings file is first written.
//
// The keys whose signature releases a job (job/signature.h) are the *.pub
// files of a folder only the administrator writes: trusted-keys/ beside the
// executable of a portable install, /etc/kavrin-programmer/trusted-keys/ for
// an installed program. It is never the operator's configuration folder,
// which the operator writes.

#include <QString>
#include <functional>

namespace base {

struct InstallPaths {
  bool Portable = true;
  QString ExecutableFolder; // ends in '/'
  QString SettingsFile;     // sysset.ini
  QString ChipListFile;     // MCUtype.txt
  QString TrustedKeysFolder; // ends in '/'
};

struct InstallEnvironment {
  QString XdgConfigHome; // ignored unless absolute
  QString Home;
};

// Pure: `exists` answers whether a path names something in the file system.
InstallPaths ResolveInstallPaths(const QString &executableFolder, const InstallEnvironment &environment,
                                 const std::function<bool(const QString &)> &exists);

// The same over the process environment and the real file system.
InstallPaths ResolveInstallPaths(const QString &executableFolder);

// Everything beside the executable in `folder`.
InstallPaths PortableInstallPaths(const QString &folder);

inline const QString kSettingsFileName = QStringLiteral("sysset.ini");
inline const QString kChipListFileName = QStringLiteral("MCUtype.txt");
inline const QString kPackageFolderName = QStringLiteral("kavrin-programmer");
inline const QString kTrustedKeysFolderName = QStringLiteral("trusted-keys");
inline const QString kSystemTrustedKeysFolder = QStringLiteral("/etc/kavrin-programmer/trusted-keys/");

} // namespace base
