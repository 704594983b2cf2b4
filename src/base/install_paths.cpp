#include "base/install_paths.h"

#include <QDir>
#include <QFileInfo>

namespace base {

namespace {

QString WithSlash(QString folder) {
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  return folder;
}

} // namespace

InstallPaths PortableInstallPaths(const QString &folder) {
  const QString dir = WithSlash(folder);
  return {true, dir, dir + kSettingsFileName, dir + kChipListFileName, dir + kTrustedKeysFolderName + QLatin1Char('/')};
}

InstallPaths ResolveInstallPaths(const QString &executableFolder, const InstallEnvironment &environment,
                                 const std::function<bool(const QString &)> &exists) {
  InstallPaths paths = PortableInstallPaths(executableFolder);
  if (exists(paths.ChipListFile))
    return paths;

  paths.Portable = false;
  paths.TrustedKeysFolder = kSystemTrustedKeysFolder;
  // A relative XDG_CONFIG_HOME is invalid and must be ignored.
  const QString configHome = QDir::isAbsolutePath(environment.XdgConfigHome)
                                 ? environment.XdgConfigHome
                                 : WithSlash(environment.Home) + QStringLiteral(".config");
  const QString configFolder = WithSlash(QDir::cleanPath(configHome)) + kPackageFolderName + QLatin1Char('/');
  paths.SettingsFile = configFolder + kSettingsFileName;

  const QString operatorList = configFolder + kChipListFileName;
  const QString dataFolder =
      WithSlash(QDir::cleanPath(paths.ExecutableFolder + QStringLiteral("../share/") + kPackageFolderName));
  paths.ChipListFile = exists(operatorList) ? operatorList : dataFolder + kChipListFileName;
  return paths;
}

InstallPaths ResolveInstallPaths(const QString &executableFolder) {
  // homePath() is $HOME, or the root folder when HOME is unset.
  return ResolveInstallPaths(executableFolder, {qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()},
                             [](const QString &path) { return QFileInfo::exists(path); });
}

} // namespace base
