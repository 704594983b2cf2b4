#include "base/exception.h"
#include "app/settings_file.h"
#include "support/test_helpers.h"

#include <gtest/gtest.h>

using namespace app;

TEST(SettingsFile, MissingFileSectionOrKeyGivesTheDefault) {
  ProgramFolder folder;
  SettingsFile settings(folder.File("sysset.ini"));
  EXPECT_EQ(settings.ReadString(kPortSection, kPortKey, kDefaultPortName), "COM5");
  EXPECT_FALSE(QFile::exists(folder.File("sysset.ini"))) << "reading never creates the file";

  folder.Write("sysset.ini", "[other]\nnum=COM3\n");
  EXPECT_EQ(settings.ReadString(kPortSection, kPortKey, kDefaultPortName), "COM5");
  folder.Write("sysset.ini", "[comx]\nbaud=1\n");
  EXPECT_EQ(settings.ReadString(kPortSection, kPortKey, kDefaultPortName), "COM5");
}

TEST(SettingsFile, ReadsTheKeyLikeAnInitialisationFile) {
  ProgramFolder folder;
  SettingsFile settings(folder.File("sysset.ini"));
  struct Case {
    const char *content;
    const char *expected;
  } cases[] = {
      {"[comx]\r\nnum=COM3\r\n", "COM3"},
      {"[COMX]\nNUM = /dev/ttyUSB0 \n", "/dev/ttyUSB0"},
      {"; comment\n[a]\nnum=x\n[comx]\nnum=COM7", "COM7"},
      {"[comx]\nnum=\n", ""},
      {"[comx]\nnum=\"COM12\"\n", "COM12"},
      {"[comx]\nnum=\"\"\n", ""},
  };
  for (const auto &c : cases) {
    folder.Write("sysset.ini", c.content);
    EXPECT_EQ(settings.ReadString(kPortSection, kPortKey, kDefaultPortName), QString::fromLatin1(c.expected))
        << c.content;
  }
}

TEST(SettingsFile, WriteCreatesFileSectionAndKey) {
  ProgramFolder folder;
  SettingsFile settings(folder.File("sysset.ini"));
  settings.WriteString(kPortSection, kPortKey, QStringLiteral("COM1"));
  EXPECT_EQ(folder.Read("sysset.ini"), "[comx]\nnum=COM1\n");
  settings.WriteString(kPortSection, kPortKey, QStringLiteral("COM12"));
  EXPECT_EQ(folder.Read("sysset.ini"), "[comx]\nnum=COM12\n");
}

TEST(SettingsFile, WriteLeavesEveryOtherLineAsItWas) {
  ProgramFolder folder;
  folder.Write("sysset.ini", "; bench 4\r\n[view]\r\nzoom=2\r\n\r\n[comx]\r\n; the box\r\nnum=COM3\r\nspare=1\r\n"
                             "[tail]\r\nnum=keep\r\n");
  SettingsFile(folder.File("sysset.ini")).WriteString(kPortSection, kPortKey, QStringLiteral("COM4"));
  EXPECT_EQ(folder.Read("sysset.ini"),
            "; bench 4\r\n[view]\r\nzoom=2\r\n\r\n[comx]\r\n; the box\r\nnum=COM4\r\nspare=1\r\n"
            "[tail]\r\nnum=keep\r\n");

  folder.Write("sysset.ini", "[view]\nzoom=2\n[comx]\nother=1\n\n[tail]\nx=1\n");
  SettingsFile(folder.File("sysset.ini")).WriteString(kPortSection, kPortKey, QStringLiteral("COM9"));
  EXPECT_EQ(folder.Read("sysset.ini"), "[view]\nzoom=2\n[comx]\nother=1\nnum=COM9\n\n[tail]\nx=1\n");

  folder.Write("sysset.ini", "[view]\nzoom=2");
  SettingsFile(folder.File("sysset.ini")).WriteString(kPortSection, kPortKey, QStringLiteral("COM2"));
  EXPECT_EQ(folder.Read("sysset.ini"), "[view]\nzoom=2\n[comx]\nnum=COM2\n");
}

TEST(SettingsFile, WriteChangesOnlyTheKeysLineByteForByte) {
  ProgramFolder folder;
  struct Case {
    const char *name;
    QByteArray before, after;
    // The key written; the port's unless given.
    QString section = kPortSection, key = kPortKey, value = QStringLiteral("COM4");
  } cases[] = {
      {"code page 936 comment", "; \xB6\xCB\xBF\xDA\n[comx]\nnum=COM3\n", "; \xB6\xCB\xBF\xDA\n[comx]\nnum=COM4\n"},
      {"byte-order mark", "\xEF\xBB\xBF[comx]\r\nnum=COM3\r\n", "\xEF\xBB\xBF[comx]\r\nnum=COM4\r\n"},
      {"mixed line ends", "[a]\nx=1\r\n[comx]\nnum=COM3\n", "[a]\nx=1\r\n[comx]\nnum=COM4\n"},
      {"trailing bare CR", "[comx]\nnum=COM3\r", "[comx]\nnum=COM4\r"},
      {"key added in the file's own line end", "[comx]\r\nbaud=1", "[comx]\r\nbaud=1\r\nnum=COM4\r\n"},
      {"spelling of the key kept", "[COMX]\nNUM = COM3\n", "[COMX]\nNUM = COM4\n"},
      {"the language beside the port", "; \xB6\xCB\xBF\xDA\r\n[comx]\r\nnum=COM3",
       "; \xB6\xCB\xBF\xDA\r\n[comx]\r\nnum=COM3\r\n[ui]\r\nlanguage=en\r\n", kUiSection, kLanguageKey,
       QStringLiteral("en")},
  };
  for (const auto &c : cases) {
    folder.Write("sysset.ini", c.before);
    SettingsFile settings(folder.File("sysset.ini"));
    settings.WriteString(c.section, c.key, c.value);
    EXPECT_EQ(folder.Read("sysset.ini"), c.after) << c.name;
    EXPECT_EQ(settings.ReadString(c.section, c.key, QString()), c.value) << c.name;
    // Writing the value it already holds leaves the file as it is.
    settings.WriteString(c.section, c.key, c.value);
    EXPECT_EQ(folder.Read("sysset.ini"), c.after) << c.name;
  }
}

TEST(SettingsFile, UnwritableFileRaisesUnableToWrite) {
  ProgramFolder folder;
  // Root ignores permissions, so make the write fail another way: the name is a folder.
  QDir(folder.Path()).mkdir(QStringLiteral("sysset.ini"));
  SettingsFile settings(folder.File("sysset.ini"));
  try {
    settings.WriteString(kPortSection, kPortKey, QStringLiteral("COM1"));
    FAIL() << "write into a folder succeeded";
  } catch (const base::EIniFileException &e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Unable to write to ") + folder.File("sysset.ini"));
  }
  // A plain file where the folder should be.
  folder.Write("plain", "");
  SettingsFile underFile(folder.File("plain/kavrin-programmer/sysset.ini"));
  EXPECT_THROW(underFile.WriteString(kPortSection, kPortKey, QStringLiteral("COM1")), base::EIniFileException);
  EXPECT_EQ(folder.Read("plain"), "");
}

TEST(SettingsFile, WriteCreatesMissingFolders) {
  ProgramFolder folder;
  SettingsFile settings(folder.File("config/kavrin-programmer/sysset.ini"));
  EXPECT_EQ(settings.ReadString(kPortSection, kPortKey, kDefaultPortName), "COM5");
  EXPECT_FALSE(QFileInfo::exists(folder.File("config"))) << "reading never creates the folder";
  settings.WriteString(kPortSection, kPortKey, QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(folder.Read("config/kavrin-programmer/sysset.ini"), "[comx]\nnum=/dev/ttyUSB0\n");
}
