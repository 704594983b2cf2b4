// The window of an installed program: the port choice goes to the operator's
// configuration folder, the chip list comes from the package's data folder.
// The layout is the unpacked package when KAVRIN_PACKAGE_ROOT names its root
// (tests/package/check_package.sh does that), else one built here.
#include "app/ui/form1.h"
#include "app/ui/form2.h"
#include "app/ui/program.h"
#include "base/install_paths.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace app;

namespace {

class ScopedEnv {
public:
  ScopedEnv(const char *name, const QString &value) : name_(name), old_(qgetenv(name)) {
    qputenv(name, value.toLocal8Bit());
  }
  ~ScopedEnv() {
    if (old_.isNull())
      qunsetenv(name_);
    else
      qputenv(name_, old_);
  }

private:
  const char *name_;
  QByteArray old_;
};

struct InstalledLayout : ::testing::Test {
  ProgramFolder scratch;
  ScopedEnv xdg{"XDG_CONFIG_HOME", scratch.File("config")};
  QString root = qEnvironmentVariable("KAVRIN_PACKAGE_ROOT");
  RecordingDialogs dialogs;
  std::shared_ptr<MemorySerialLayer> layer = std::make_shared<MemorySerialLayer>();
  std::unique_ptr<Program> program;
  TForm1 *form1 = nullptr;

  void SetUp() override {
    if (root.isEmpty()) {
      root = scratch.File("root");
      QDir(root).mkpath("usr/bin");
      QDir(root).mkpath("usr/share/kavrin-programmer");
      ASSERT_TRUE(QFile::copy(SourcePath("data/MCUtype.txt"), root + "/usr/share/kavrin-programmer/MCUtype.txt"));
    }
  }
  void Start() {
    program.reset();
    const base::InstallPaths paths = base::ResolveInstallPaths(root + "/usr/bin/");
    ASSERT_FALSE(paths.Portable);
    program = std::make_unique<Program>(dialogs, layer, paths);
    form1 = program->Form1.get();
  }
  QString ShownChipList() {
    form1->Button1->click();
    return program->Form2->Memo1->toPlainText();
  }
};

TEST_F(InstalledLayout, PortChoiceIsKeptInTheConfigurationFolder) {
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  auto com2 = layer->AddDevice(QStringLiteral("COM2"));
  Start();
  EXPECT_TRUE(com5->IsOpen());
  EXPECT_FALSE(QFileInfo::exists(scratch.File("config"))) << "nothing is created before the port changes";

  form1->ComboBox1->setCurrentIndex(1); // "COM2"
  EXPECT_TRUE(dialogs.Errors().isEmpty()) << dialogs.Errors().join('\n').toStdString();
  EXPECT_EQ(scratch.Read("config/kavrin-programmer/sysset.ini"), "[comx]\nnum=COM2\n");
  EXPECT_FALSE(QFileInfo::exists(root + "/usr/bin/sysset.ini"));
  EXPECT_EQ(program->State.AppDir, root + "/usr/bin/");

  Start();
  EXPECT_TRUE(com2->IsOpen()) << "the next start opens the stored port";
  EXPECT_FALSE(com5->IsOpen());
}

TEST_F(InstalledLayout, ChipListComesFromTheDataFolderUnlessTheOperatorHasOne) {
  Start();
  QFile shipped(root + "/usr/share/kavrin-programmer/MCUtype.txt");
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
  const QString list = ShownChipList();
  EXPECT_EQ(list, QString::fromLatin1(shipped.readAll()));
  EXPECT_TRUE(list.contains("PAC5220"));

  QDir(scratch.Path()).mkpath("config/kavrin-programmer");
  scratch.Write("config/kavrin-programmer/MCUtype.txt", "No Type\r\n1  PAC5299\r\n");
  EXPECT_EQ(ShownChipList(), list) << "the list's place is settled at start-up";
  Start();
  EXPECT_EQ(ShownChipList(), "No Type\n1  PAC5299\n");
  EXPECT_TRUE(dialogs.Errors().isEmpty()) << dialogs.Errors().join('\n').toStdString();
}

} // namespace
