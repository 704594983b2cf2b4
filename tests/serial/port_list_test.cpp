// The serial device listing over a fake /dev and /sys tree: by-id names and
// their targets as one entry, USB attributes found by walking up, phantom
// legacy ports left out, and access as an open and a lock find it.
#include "pty_pair.h"
#include "serial/serial_devices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace serial;

namespace {

class FakeTree {
public:
  QString Root() const { return dir_.path(); }
  void Write(const QString &relative, const QByteArray &text) {
    const QString path = Root() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }
  void Link(const QString &relative, const QString &target) {
    const QString path = Root() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_EQ(symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0)
        << path.toStdString();
  }
  void Mkdir(const QString &relative) { QDir().mkpath(Root() + QLatin1Char('/') + relative); }

private:
  QTemporaryDir dir_;
};

const QString kUsbDevice = QStringLiteral("sys/devices/pci0000:00/0000:00:14.0/usb1/1-2");
const QString kAcmDevice = QStringLiteral("sys/devices/pci0000:00/0000:00:14.0/usb1/1-3");

} // namespace

TEST(PortList, FakeTreeListsEveryKindOnce) {
  PtyPair free, held;
  ASSERT_TRUE(free.Ok() && held.Ok());
  // Another program's lock on the second device.
  const int holder = open(QFile::encodeName(held.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  FakeTree t;
  // A USB adapter behind a by-id name; its device node is a real terminal.
  t.Link(QStringLiteral("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"),
         QStringLiteral("../../ttyUSB0"));
  t.Link(QStringLiteral("dev/ttyUSB0"), free.SlavePath());
  t.Write(kUsbDevice + QStringLiteral("/idVendor"), "0403\n");
  t.Write(kUsbDevice + QStringLiteral("/idProduct"), "6001\n");
  t.Write(kUsbDevice + QStringLiteral("/serial"), "A1B2C3\n");
  t.Write(kUsbDevice + QStringLiteral("/manufacturer"), "FTDI\n");
  t.Write(kUsbDevice + QStringLiteral("/product"), "FT232R USB UART\n");
  t.Mkdir(QStringLiteral("sys/bus/usb-serial/drivers/ftdi_sio"));
  t.Link(kUsbDevice + QStringLiteral("/1-2:1.0/ttyUSB0/driver"),
         QStringLiteral("../../../../../../../bus/usb-serial/drivers/ftdi_sio"));
  t.Link(QStringLiteral("sys/class/tty/ttyUSB0/device"),
         QStringLiteral("../../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0"));
  // A by-id name whose device is gone.
  t.Link(QStringLiteral("dev/serial/by-id/usb-gone-if00"), QStringLiteral("../../ttyUSB9"));
  // A device another program holds.
  t.Link(QStringLiteral("dev/ttyUSB1"), held.SlavePath());
  // A modem whose node is no terminal.
  t.Write(QStringLiteral("dev/ttyACM0"), "");
  t.Write(kAcmDevice + QStringLiteral("/idVendor"), "2e8a\n");
  t.Write(kAcmDevice + QStringLiteral("/idProduct"), "000a\n");
  t.Mkdir(QStringLiteral("sys/bus/usb/drivers/cdc_acm"));
  t.Link(kAcmDevice + QStringLiteral("/1-3:1.0/driver"), QStringLiteral("../../../../../../bus/usb/drivers/cdc_acm"));
  t.Link(QStringLiteral("sys/class/tty/ttyACM0/device"),
         QStringLiteral("../../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0"));
  // A UART that answered, behind the generic port devices of newer kernels,
  // and a phantom legacy port; FIFOs stand in for their nodes.
  const QString pnp = QStringLiteral("sys/devices/pnp0/00:00");
  for (const char *bus : {"serial-base", "pnp"})
    t.Mkdir(QStringLiteral("sys/bus/") + QLatin1String(bus));
  t.Mkdir(QStringLiteral("sys/bus/pnp/drivers/serial"));
  t.Mkdir(QStringLiteral("sys/bus/serial-base/drivers/port"));
  t.Link(pnp + QStringLiteral("/subsystem"), QStringLiteral("../../../bus/pnp"));
  t.Link(pnp + QStringLiteral("/driver"), QStringLiteral("../../../bus/pnp/drivers/serial"));
  t.Link(pnp + QStringLiteral("/00:00:0/subsystem"), QStringLiteral("../../../../bus/serial-base"));
  t.Link(pnp + QStringLiteral("/00:00:0/00:00:0.0/subsystem"), QStringLiteral("../../../../../bus/serial-base"));
  t.Link(pnp + QStringLiteral("/00:00:0/00:00:0.0/driver"),
         QStringLiteral("../../../../../bus/serial-base/drivers/port"));
  t.Link(QStringLiteral("sys/class/tty/ttyS0/device"), QStringLiteral("../../../devices/pnp0/00:00/00:00:0/00:00:0.0"));
  t.Write(QStringLiteral("sys/class/tty/ttyS0/type"), "4\n");
  t.Mkdir(QStringLiteral("sys/bus/platform/drivers/serial8250"));
  t.Link(QStringLiteral("sys/devices/platform/serial8250/driver"),
         QStringLiteral("../../../bus/platform/drivers/serial8250"));
  t.Link(QStringLiteral("sys/class/tty/ttyS1/device"), QStringLiteral("../../../devices/platform/serial8250"));
  t.Write(QStringLiteral("sys/class/tty/ttyS1/type"), "0\n");
  for (const char *port : {"ttyS0", "ttyS1"})
    ASSERT_EQ(mkfifo(QFile::encodeName(t.Root() + QStringLiteral("/dev/") + QLatin1String(port)).constData(), 0600), 0);
  // Known to the kernel, but without a node.
  t.Mkdir(QStringLiteral("sys/class/tty/ttyUSB3"));
  // Not a serial device at all.
  t.Write(QStringLiteral("dev/tty0"), "");

  const PortListRoots roots{t.Root() + QStringLiteral("/dev"), t.Root() + QStringLiteral("/sys")};
  const std::vector<SerialDeviceInfo> list = ListSerialPorts(roots);

  struct Expected {
    const char *name, *device, *driver, *usb, *serial, *manufacturer, *product;
    PortAccess access;
  };
  const Expected expected[] = {
      {"dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "dev/ttyUSB0", "ftdi_sio", "0403:6001", "A1B2C3",
       "FTDI", "FT232R USB UART", PortAccess::Ok},
      {"dev/serial/by-id/usb-gone-if00", "dev/ttyUSB9", "", "", "", "", "", PortAccess::Missing},
      {"dev/ttyACM0", "dev/ttyACM0", "cdc_acm", "2e8a:000a", "", "", "", PortAccess::Unusable},
      {"dev/ttyS0", "dev/ttyS0", "serial", "", "", "", "", PortAccess::Unusable},
      {"dev/ttyUSB1", "dev/ttyUSB1", "", "", "", "", "", PortAccess::InUse},
      {"dev/ttyUSB3", "dev/ttyUSB3", "", "", "", "", "", PortAccess::Missing},
  };
  ASSERT_EQ(list.size(), std::size(expected));
  for (size_t i = 0; i < list.size(); ++i) {
    const SerialDeviceInfo &got = list[i];
    const Expected &want = expected[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(got.name, t.Root() + QLatin1Char('/') + QLatin1String(want.name));
    EXPECT_EQ(got.device, t.Root() + QLatin1Char('/') + QLatin1String(want.device));
    EXPECT_EQ(got.driver, QLatin1String(want.driver));
    EXPECT_EQ(got.UsbId(), QLatin1String(want.usb));
    EXPECT_EQ(got.serial, QLatin1String(want.serial));
    EXPECT_EQ(got.manufacturer, QLatin1String(want.manufacturer));
    EXPECT_EQ(got.product, QLatin1String(want.product));
    EXPECT_EQ(PortAccessName(got.access), PortAccessName(want.access));
    EXPECT_EQ(got.reason.isEmpty(), want.access == PortAccess::Ok) << got.reason.toStdString();
  }
  EXPECT_EQ(list[1].reason, qt_error_string(ENOENT));
  EXPECT_TRUE(list[2].reason.startsWith(QLatin1String("not a terminal"))) << list[2].reason.toStdString();

  // Listing for the window opens nothing: the held device is merely present.
  const std::vector<SerialDeviceInfo> unopened = ListSerialPorts(roots, PortCheck::Existence);
  ASSERT_EQ(unopened.size(), list.size());
  EXPECT_EQ(unopened[4].access, PortAccess::Unchecked);
  EXPECT_EQ(unopened[5].access, PortAccess::Missing);

  // The probe let go of its lock: the free device can still be locked.
  const int again = open(QFile::encodeName(free.SlavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(again, 0);
  EXPECT_EQ(flock(again, LOCK_EX | LOCK_NB), 0);
  close(again);
  close(holder);
}

TEST(PortList, NumbersInNamesSortAsNumbers) {
  FakeTree t;
  for (const char *name : {"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyUSB02"})
    t.Write(QStringLiteral("dev/") + QLatin1String(name), "");
  t.Mkdir(QStringLiteral("sys/class/tty"));
  QStringList names;
  for (const SerialDeviceInfo &info :
       ListSerialPorts({t.Root() + QStringLiteral("/dev"), t.Root() + QStringLiteral("/sys")}))
    names << QFileInfo(info.name).fileName();
  EXPECT_EQ(names, (QStringList{QStringLiteral("ttyACM1"), QStringLiteral("ttyUSB02"), QStringLiteral("ttyUSB2"),
                                QStringLiteral("ttyUSB10")}));
}

TEST(PortList, OpenErrorsAndTheirTexts) {
  const std::pair<int, PortAccess> cases[] = {
      {EACCES, PortAccess::NoPermission}, {EPERM, PortAccess::NoPermission}, {EBUSY, PortAccess::InUse},
      {ENOENT, PortAccess::Missing},      {ENXIO, PortAccess::Missing},      {EIO, PortAccess::Unusable},
  };
  for (auto [error, access] : cases)
    EXPECT_EQ(AccessOfOpenError(error), access) << error;

  SerialDeviceInfo info;
  info.access = PortAccess::NoPermission;
  info.reason = qt_error_string(EACCES);
  EXPECT_EQ(PortAccessText(info),
            QStringLiteral("no permission (Permission denied): add your user to the dialout group, then log in again"));
  // With the device at hand: its owner and mode, and joining its group only
  // for one who is not in it and whose group may read and write it.
  QTemporaryDir dir;
  info.device = dir.filePath(QStringLiteral("ttyUSB0"));
  QFile(info.device).open(QIODevice::WriteOnly);
  const gid_t other = getegid() + 4242; // a group this process is not in
  const struct {
    gid_t gid;
    mode_t mode;
    QString advice;
  } devices[] = {
      {getegid(), 0600, QStringLiteral("ask the administrator to let your user read and write it (for example a udev "
                                       "rule giving the %1 group read and write)")},
      {other, 0660, QStringLiteral("add your user to the %1 group, then log in again")},
  };
  for (const auto &d : devices) {
    if (chown(QFile::encodeName(info.device).constData(), geteuid(), d.gid) != 0)
      continue; // a group of another's takes root
    ASSERT_EQ(chmod(QFile::encodeName(info.device).constData(), d.mode), 0);
    const group *g = getgrgid(d.gid);
    const QString groupName = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(d.gid);
    const passwd *u = getpwuid(geteuid());
    EXPECT_EQ(PortAccessText(info), QStringLiteral("no permission (Permission denied): %1 is owned by %2:%3, mode %4; ")
                                            .arg(info.device, QString::fromLocal8Bit(u->pw_name), groupName,
                                                 d.mode == 0600 ? QStringLiteral("-rw-------")
                                                                : QStringLiteral("-rw-rw----")) +
                                        d.advice.arg(groupName));
  }
  info.access = PortAccess::InUse;
  info.reason = qt_error_string(EBUSY);
  EXPECT_EQ(PortAccessText(info), QStringLiteral("in use by another program (Device or resource busy)"));
}
