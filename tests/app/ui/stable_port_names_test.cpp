// Adapters by their stable names: the port list shows attached USB serial
// adapters by their by-id names with what is known of them, is brought up to
// date whenever it opens, and a stored by-id name finds its adapter again
// whatever tty it got after a replug.
#include "app/ui/controls.h"
#include "app/ui/form1.h"
#include "app/ui/program.h"
#include "session/box_session.h"
#include "serial/serial_layer.h"
#include "serial/pty_pair.h"
#include "support/memory_serial.h"
#include "support/recording_dialogs.h"
#include "support/test_helpers.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace app;

namespace {

void Link(const QString &path, const QString &target) {
  QDir().mkpath(QFileInfo(path).path());
  QFile::remove(path);
  ASSERT_EQ(symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
}

void Write(const QString &path, const QByteArray &text) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

// A USB adapter in a fake /dev and /sys: its by-id name, its tty node (a
// pseudo-terminal here) and the USB attributes above its tty.
void Adapter(const QString &root, const QString &tty, const QString &byId, const QString &node, const char *serial) {
  Link(root + QStringLiteral("/dev/serial/by-id/") + byId, QStringLiteral("../../") + tty);
  Link(root + QStringLiteral("/dev/") + tty, node);
  const QString usb = root + QStringLiteral("/sys/devices/usb1/1-") + tty.right(1);
  Write(usb + QStringLiteral("/idVendor"), "0403\n");
  Write(usb + QStringLiteral("/idProduct"), "6001\n");
  Write(usb + QStringLiteral("/serial"), QByteArray(serial) + '\n');
  Write(usb + QStringLiteral("/manufacturer"), "FTDI\n");
  Link(root + QStringLiteral("/sys/class/tty/") + tty + QStringLiteral("/device"), usb + QStringLiteral("/") + tty);
  QDir().mkpath(usb + QStringLiteral("/") + tty);
}

TEST(StablePortNames, TheListShowsAdaptersByIdAndIsRefreshedWhenItOpens) {
  ProgramFolder folder, tree;
  PtyPair first, second;
  ASSERT_TRUE(first.Ok() && second.Ok());
  folder.Write("sysset.ini", "[comx]\nnum=COM5\n");
  RecordingDialogs dialogs;
  auto layer = std::make_shared<MemorySerialLayer>();
  auto com5 = layer->AddDevice(QStringLiteral("COM5"));
  Program program(dialogs, layer, folder.Path());
  TForm1 *form1 = program.Form1.get();
  const QString root = tree.dir.path();
  form1->SetPortListRoots({root + QStringLiteral("/dev"), root + QStringLiteral("/sys")});
  Adapter(root, QStringLiteral("ttyUSB0"), QStringLiteral("usb-FTDI_FT232R_A1-if00-port0"), first.SlavePath(), "A1");

  QComboBox *box = form1->ComboBox1;
  box->showPopup();
  box->hidePopup();
  ASSERT_EQ(box->count(), 10);
  EXPECT_EQ(box->itemText(9), root + QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"));
  const QString tip = box->itemData(9, Qt::ToolTipRole).toString();
  EXPECT_TRUE(tip.contains(QStringLiteral("USB 0403:6001, serial A1, FTDI"))) << tip.toStdString();
  EXPECT_TRUE(tip.contains(QStringLiteral("access: ok"))) << tip.toStdString();

  // An adapter plugged in after start-up appears the next time the list opens;
  // the port in use and its text stay as they were.
  Adapter(root, QStringLiteral("ttyUSB1"), QStringLiteral("usb-FTDI_FT232R_B2-if00-port0"), second.SlavePath(), "B2");
  box->showPopup();
  box->hidePopup();
  ASSERT_EQ(box->count(), 11);
  EXPECT_TRUE(box->itemText(10).endsWith(QStringLiteral("usb-FTDI_FT232R_B2-if00-port0")));
  EXPECT_EQ(box->currentText(), QStringLiteral("COM5"));
  EXPECT_TRUE(com5->IsOpen());
  EXPECT_EQ(com5->OpenCount(), 1);
  EXPECT_EQ(folder.Read("sysset.ini"), "[comx]\nnum=COM5\n");
}

TEST(StablePortNames, AStoredByIdNameFindsTheAdapterAfterAReplug) {
  ProgramFolder folder, tree;
  PtyPair before, after;
  ASSERT_TRUE(before.Ok() && after.Ok());
  const QString byId = tree.dir.filePath(QStringLiteral("serial/by-id/usb-FTDI_FT232R_A1-if00-port0"));
  folder.Write("sysset.ini", "[comx]\nnum=" + byId.toUtf8() + "\n");
  RecordingDialogs dialogs;
  for (PtyPair *tty : {&before, &after}) {
    Link(byId, tty->SlavePath()); // the adapter got another tty
    Program program(dialogs, serial::MakePlatformSerialLayer(), folder.Path());
    ASSERT_TRUE(program.Form1->Session().IsOpen());
    program.Form1->Button8->click();
    EXPECT_EQ(tty->Read(8).size(), 8u) << "the set frame reached " << tty->SlavePath().toStdString();
  }
}

} // namespace
