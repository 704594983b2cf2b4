// Where the settings file, the chip list and the trusted keys are, portable and installed.
#include "base/install_paths.h"
#include "support/test_helpers.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace base;

TEST(InstallPaths, ChipListBesideTheExecutableMakesAPortableInstall) {
  const QSet<QString> present{"/opt/bench/MCUtype.txt", "/home/op/.config/kavrin-programmer/MCUtype.txt"};
  const auto exists = [&](const QString &p) { return present.contains(p); };
  for (const QString folder : {"/opt/bench/", "/opt/bench"}) {
    const InstallPaths p = ResolveInstallPaths(folder, {"/home/op/.config", "/home/op"}, exists);
    EXPECT_TRUE(p.Portable);
    EXPECT_EQ(p.ExecutableFolder, "/opt/bench/");
    EXPECT_EQ(p.SettingsFile, "/opt/bench/sysset.ini");
    EXPECT_EQ(p.ChipListFile, "/opt/bench/MCUtype.txt") << "even when the operator has a list of their own";
    EXPECT_EQ(p.TrustedKeysFolder, "/opt/bench/trusted-keys/");
  }
}

TEST(InstallPaths, InstalledProgramUsesTheConfigurationAndDataFolders) {
  struct Case {
    const char *exeFolder, *xdg, *home, *operatorList; // operatorList: present, or empty
    const char *settings, *chipList;
  } cases[] = {
      {"/usr/bin/", "/home/op/.cfg", "/home/op", "", "/home/op/.cfg/kavrin-programmer/sysset.ini",
       "/usr/share/kavrin-programmer/MCUtype.txt"},
      // Unset, empty or relative XDG_CONFIG_HOME: ~/.config.
      {"/usr/bin/", "", "/home/op", "", "/home/op/.config/kavrin-programmer/sysset.ini",
       "/usr/share/kavrin-programmer/MCUtype.txt"},
      {"/usr/bin/", "cfg", "/home/op/", "", "/home/op/.config/kavrin-programmer/sysset.ini",
       "/usr/share/kavrin-programmer/MCUtype.txt"},
      {"/usr/bin", "/home/op/.cfg/", "/home/op", "/home/op/.cfg/kavrin-programmer/MCUtype.txt",
       "/home/op/.cfg/kavrin-programmer/sysset.ini", "/home/op/.cfg/kavrin-programmer/MCUtype.txt"},
      // An unpacked package in a scratch root reads that root's data folder.
      {"/tmp/r/usr/bin/", "/tmp/x", "/root", "", "/tmp/x/kavrin-programmer/sysset.ini",
       "/tmp/r/usr/share/kavrin-programmer/MCUtype.txt"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.exeFolder) + " xdg=" + c.xdg);
    const QString operatorList = QString::fromLatin1(c.operatorList);
    const auto exists = [&](const QString &p) { return !operatorList.isEmpty() && p == operatorList; };
    const InstallPaths p = ResolveInstallPaths(c.exeFolder, {c.xdg, c.home}, exists);
    EXPECT_FALSE(p.Portable);
    EXPECT_TRUE(p.ExecutableFolder.endsWith('/'));
    EXPECT_EQ(p.SettingsFile, c.settings);
    EXPECT_EQ(p.ChipListFile, c.chipList);
    EXPECT_EQ(p.TrustedKeysFolder, "/etc/kavrin-programmer/trusted-keys/") << "never one the operator writes";
  }
}

TEST(InstallPaths, RealFileSystemAndEnvironment) {
  ProgramFolder root;
  QDir(root.Path()).mkpath("usr/bin");
  QDir(root.Path()).mkpath("home/.config/kavrin-programmer");
  const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME"), oldHome = qgetenv("HOME");
  qunsetenv("XDG_CONFIG_HOME");
  qputenv("HOME", root.File("home").toLocal8Bit());

  const InstallPaths installed = ResolveInstallPaths(root.File("usr/bin"));
  EXPECT_EQ(installed.SettingsFile, root.File("home/.config/kavrin-programmer/sysset.ini"));
  EXPECT_EQ(installed.ChipListFile, root.File("usr/share/kavrin-programmer/MCUtype.txt"));
  root.Write("home/.config/kavrin-programmer/MCUtype.txt", "mine");
  EXPECT_EQ(ResolveInstallPaths(root.File("usr/bin")).ChipListFile,
            root.File("home/.config/kavrin-programmer/MCUtype.txt"));
  root.Write("usr/bin/MCUtype.txt", "beside");
  EXPECT_TRUE(ResolveInstallPaths(root.File("usr/bin")).Portable);

  qputenv("XDG_CONFIG_HOME", oldXdg);
  qputenv("HOME", oldHome);
  if (oldXdg.isNull())
    qunsetenv("XDG_CONFIG_HOME");
}
