// The serial device listing over Linux's /dev and /sys.
#include "serial/serial_devices.h"

#include "serial/posix_serial.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <optional>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace serial {

namespace {

const QStringList kDevicePatterns = {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"), QStringLiteral("ttyS*")};

// One level of a symbolic link, made absolute against the link's folder; the
// path itself when it is no link. One level only: in a moved tree the device
// node may itself be a link, and the listing must name the node, not its end.
QString LinkTarget(const QString &path) {
  const QByteArray encoded = QFile::encodeName(path);
  char buffer[4096];
  const ssize_t n = readlink(encoded.constData(), buffer, sizeof buffer - 1);
  if (n <= 0)
    return path;
  const QString target = QFile::decodeName(QByteArray(buffer, n));
  if (target.startsWith(QLatin1Char('/')))
    return QDir::cleanPath(target);
  return QDir::cleanPath(QFileInfo(path).path() + QLatin1Char('/') + target);
}

QString ReadAttribute(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return QString::fromUtf8(file.read(4096)).trimmed();
}

struct TreeInfo {
  QString driver;
  QString vendorId, productId, serial, manufacturer, product;
  bool hasType = false;
  int type = 0;
};

TreeInfo ReadTree(const QString &sysRoot, const QString &ttyName) {
  TreeInfo info;
  const QString classDir = sysRoot + QStringLiteral("/class/tty/") + ttyName;
  const QString typeText = ReadAttribute(classDir + QStringLiteral("/type"));
  bool typeOk = false;
  const int type = typeText.toInt(&typeOk);
  if (typeOk) {
    info.hasType = true;
    info.type = type;
  }
  const QFileInfo device(classDir + QStringLiteral("/device"));
  if (!device.exists())
    return info; // a virtual terminal: no device, no driver
  const QString root = QFileInfo(sysRoot).canonicalFilePath();
  auto inTree = [&](const QString &dir) { return !root.isEmpty() && dir.startsWith(root + QLatin1Char('/')); };

  // Newer kernels put generic serial-base port and controller devices between
  // the tty and the device that has the hardware's driver; those are passed over.
  for (QString dir = device.canonicalFilePath(); inTree(dir); dir = QFileInfo(dir).path()) {
    if (QFileInfo(QFileInfo(dir + QStringLiteral("/subsystem")).canonicalFilePath()).fileName() ==
        QLatin1String("serial-base"))
      continue;
    const QFileInfo driver(dir + QStringLiteral("/driver"));
    if (driver.exists())
      info.driver = QFileInfo(driver.canonicalFilePath()).fileName();
    break;
  }

  // The USB device is the first folder above the tty's device with USB ids;
  // the walk stays inside the tree.
  for (QString dir = device.canonicalFilePath(); inTree(dir); dir = QFileInfo(dir).path()) {
    if (QFileInfo::exists(dir + QStringLiteral("/idVendor")) && QFileInfo::exists(dir + QStringLiteral("/idProduct"))) {
      info.vendorId = ReadAttribute(dir + QStringLiteral("/idVendor"));
      info.productId = ReadAttribute(dir + QStringLiteral("/idProduct"));
      info.serial = ReadAttribute(dir + QStringLiteral("/serial"));
      info.manufacturer = ReadAttribute(dir + QStringLiteral("/manufacturer"));
      info.product = ReadAttribute(dir + QStringLiteral("/product"));
      break;
    }
  }
  return info;
}

// A ttyS port is hardware when a UART answered there (type not 0); where the
// tree gives no type, its device having a driver has to do.
bool IsHardware(const QString &ttyName, const TreeInfo &tree) {
  if (!ttyName.startsWith(QLatin1String("ttyS")))
    return true;
  if (tree.hasType)
    return tree.type != 0;
  return !tree.driver.isEmpty();
}

struct Probe {
  PortAccess access;
  QString reason;
};

Probe OpenAndLock(const QString &device) {
  const QByteArray path = QFile::encodeName(device);
  const int fd = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return {AccessOfOpenError(error), qt_error_string(error)};
  }
  Probe probe{PortAccess::Ok, {}};
  if (!isatty(fd)) {
    const int error = errno;
    probe = {PortAccess::Unusable, QStringLiteral("not a terminal: ") + qt_error_string(error)};
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    probe = {error == EWOULDBLOCK ? PortAccess::InUse : PortAccess::Unusable, qt_error_string(error)};
  }
  close(fd); // also drops the lock
  return probe;
}

// A process other than this one that has `device` open, found through
// /proc/<pid>/fd (processes of other users stay unseen unless we are root).
std::optional<QString> OtherHolder(const QString &device) {
  const QString self = QString::number(getpid());
  const QDir proc(QStringLiteral("/proc"));
  for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    if (pid == self || !pid.front().isDigit())
      continue;
    const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot))
      if (QFile::symLinkTarget(fds.filePath(fd)) == device)
        return pid;
  }
  return std::nullopt;
}

Probe CheckAccess(const QString &device, PortCheck check) {
  if (check == PortCheck::Open)
    return OpenAndLock(device);
  const QByteArray path = QFile::encodeName(device);
  if (access(path.constData(), F_OK) != 0) {
    const int error = errno;
    return {PortAccess::Missing, qt_error_string(error)};
  }
  if (check == PortCheck::Existence)
    return {PortAccess::Unchecked, {}};
  if (access(path.constData(), R_OK | W_OK) != 0) {
    const int error = errno;
    return {AccessOfOpenError(error), qt_error_string(error)};
  }
  if (const std::optional<QString> pid = OtherHolder(QFileInfo(device).canonicalFilePath()))
    return {PortAccess::InUse, QStringLiteral("held by process ") + *pid};
  return {PortAccess::Ok, {}};
}

// Names compared with their digit runs as numbers: ttyS2 before ttyS10.
// Returns -1, 0 or 1; 0 also for runs that differ only in leading zeros.
int NaturalCompare(const QString &a, const QString &b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype ei = i, ej = j;
      while (ei < a.size() && a[ei].isDigit())
        ++ei;
      while (ej < b.size() && b[ej].isDigit())
        ++ej;
      // Without leading zeros the longer run is the larger number.
      auto strip = [](QString s) {
        while (s.size() > 1 && s[0] == QLatin1Char('0'))
          s.remove(0, 1);
        return s;
      };
      const QString sa = strip(a.mid(i, ei - i)), sb = strip(b.mid(j, ej - j));
      if (sa.size() != sb.size())
        return sa.size() < sb.size() ? -1 : 1;
      if (sa != sb)
        return sa < sb ? -1 : 1;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j])
      return a[i] < b[j] ? -1 : 1;
    ++i;
    ++j;
  }
  const qsizetype restA = a.size() - i, restB = b.size() - j;
  return restA == restB ? 0 : (restA < restB ? -1 : 1);
}

// A total order: names equal as numbers fall back to their plain text.
bool NaturalLess(const QString &a, const QString &b) {
  const int order = NaturalCompare(a, b);
  return order != 0 ? order < 0 : a < b;
}

SerialDeviceInfo MakeEntry(const QString &name, const QString &device, const TreeInfo &tree, PortCheck check) {
  SerialDeviceInfo entry;
  entry.name = name;
  entry.device = device;
  entry.driver = tree.driver;
  entry.vendorId = tree.vendorId;
  entry.productId = tree.productId;
  entry.serial = tree.serial;
  entry.manufacturer = tree.manufacturer;
  entry.product = tree.product;
  const Probe probe = CheckAccess(device, check);
  entry.access = probe.access;
  entry.reason = probe.reason;
  return entry;
}

} // namespace

QString SerialDeviceInfo::UsbId() const {
  if (vendorId.isEmpty() && productId.isEmpty())
    return {};
  return vendorId + QLatin1Char(':') + productId;
}

PortAccess AccessOfOpenError(int error) {
  switch (OpenFailureKindOf(error)) {
  case OpenFailure::Kind::NoPermission:
    return PortAccess::NoPermission;
  case OpenFailure::Kind::InUse:
    return PortAccess::InUse;
  case OpenFailure::Kind::Missing:
    return PortAccess::Missing;
  case OpenFailure::Kind::NotASerialPort:
  case OpenFailure::Kind::Other:
    break;
  }
  return PortAccess::Unusable;
}

QString PortAccessName(PortAccess access) {
  switch (access) {
  case PortAccess::Ok:
    return QStringLiteral("ok");
  case PortAccess::NoPermission:
    return QStringLiteral("no-permission");
  case PortAccess::InUse:
    return QStringLiteral("in-use");
  case PortAccess::Missing:
    return QStringLiteral("missing");
  case PortAccess::Unusable:
    return QStringLiteral("unusable");
  case PortAccess::Unchecked:
    return QStringLiteral("unchecked");
  }
  return {};
}

namespace {

// "crw-rw----", as ls shows a mode.
QString ModeText(mode_t mode) {
  QString text = S_ISCHR(mode) ? QStringLiteral("c") : S_ISDIR(mode) ? QStringLiteral("d") : QStringLiteral("-");
  const char letters[] = "rwx";
  for (int bit = 8; bit >= 0; --bit)
    text += (mode & (mode_t(1) << bit)) ? QLatin1Char(letters[(8 - bit) % 3]) : QLatin1Char('-');
  return text;
}

bool InGroup(gid_t gid) {
  if (getegid() == gid)
    return true;
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(size_t(std::max(count, 0)));
  const int got = getgroups(count, groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(got, 0), gid) != groups.begin() + std::max(got, 0);
}

// Who may open the device and what this user can do about it: joining its
// group helps only one who is not in it and whose group may read and write it.
QString PermissionAdvice(const QString &device) {
  struct stat st {};
  if (device.isEmpty() || stat(QFile::encodeName(device).constData(), &st) != 0)
    return OpenFailureHint(OpenFailure::Kind::NoPermission);
  const passwd *user = getpwuid(st.st_uid);
  const group *owners = getgrgid(st.st_gid);
  const QString groupName = owners ? QString::fromLocal8Bit(owners->gr_name) : QString::number(st.st_gid);
  const QString who = QStringLiteral("%1 is owned by %2:%3, mode %4")
                          .arg(device, user ? QString::fromLocal8Bit(user->pw_name) : QString::number(st.st_uid),
                               groupName, ModeText(st.st_mode));
  const bool groupMay = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMay && !InGroup(st.st_gid))
    return who + QStringLiteral("; add your user to the %1 group, then log in again").arg(groupName);
  return who + QStringLiteral("; ask the administrator to let your user read and write it (for example a udev "
                              "rule giving the %1 group read and write)")
                   .arg(groupName);
}

} // namespace

QString PortAccessText(const SerialDeviceInfo &info) {
  const QString why = info.reason.isEmpty() ? QString() : QStringLiteral(" (") + info.reason + QLatin1Char(')');
  switch (info.access) {
  case PortAccess::Ok:
    return QStringLiteral("ok");
  case PortAccess::NoPermission:
    return QStringLiteral("no permission") + why + QStringLiteral(": ") + PermissionAdvice(info.device);
  case PortAccess::InUse:
    return OpenFailureHint(OpenFailure::Kind::InUse) + why;
  case PortAccess::Missing:
    return QStringLiteral("missing") + why;
  case PortAccess::Unusable:
    return QStringLiteral("unusable") + why;
  case PortAccess::Unchecked:
    return QStringLiteral("not checked");
  }
  return {};
}

std::vector<SerialDeviceInfo> ListSerialPorts(const PortListRoots &roots, PortCheck check) {
  std::vector<SerialDeviceInfo> byId;
  std::vector<QString> linked; // devices that have a by-id name
  const QDir byIdDir(roots.dev + QStringLiteral("/serial/by-id"));
  // System: device nodes and dangling links are listed too.
  for (const QString &entry : byIdDir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
    const QString path = byIdDir.filePath(entry);
    const QString device = LinkTarget(path);
    linked.push_back(device);
    byId.push_back(MakeEntry(path, device, ReadTree(roots.sys, QFileInfo(device).fileName()), check));
  }

  // Every candidate name once, from either tree; one known only to /sys has
  // no node and is listed as missing.
  std::set<QString> names;
  const QDir dev(roots.dev);
  for (const QString &entry : dev.entryList(kDevicePatterns, QDir::System | QDir::Files | QDir::NoDotAndDotDot))
    names.insert(entry);
  const QDir ttyClass(roots.sys + QStringLiteral("/class/tty"));
  for (const QString &entry :
       ttyClass.entryList(kDevicePatterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
    names.insert(entry);

  std::vector<SerialDeviceInfo> rest;
  for (const QString &ttyName : names) {
    const QString device = QDir::cleanPath(dev.filePath(ttyName));
    if (std::find(linked.begin(), linked.end(), device) != linked.end())
      continue;
    const TreeInfo tree = ReadTree(roots.sys, ttyName);
    if (!IsHardware(ttyName, tree))
      continue;
    rest.push_back(MakeEntry(device, device, tree, check));
  }
  std::sort(rest.begin(), rest.end(),
            [](const SerialDeviceInfo &a, const SerialDeviceInfo &b) { return NaturalLess(a.name, b.name); });
  byId.insert(byId.end(), rest.begin(), rest.end());
  return byId;
}

QStringList ListSerialDevices() {
  QStringList found;
  for (const SerialDeviceInfo &info : ListSerialPorts({}, PortCheck::Existence))
    if (info.access != PortAccess::Missing)
      found << info.name;
  return found;
}

QString StablePortPath(const QString &portName, const PortListRoots &roots) {
  const QString path = PosixSerialLayer::DevicePath(portName);
  const QString byId = roots.dev + QStringLiteral("/serial/by-id/");
  if (path.startsWith(byId))
    return path;
  const QString device = QFileInfo(path).canonicalFilePath();
  if (device.isEmpty())
    return path;
  const QDir links(byId);
  for (const QString &entry : links.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
    if (QFileInfo(links.filePath(entry)).canonicalFilePath() == device)
      return links.filePath(entry);
  return device;
}

QString PortIdentity(const QString &name) {
  const QString device = PosixSerialLayer::DevicePath(name);
  struct stat st = {};
  if (stat(QFile::encodeName(device).constData(), &st) != 0)
    return QDir::cleanPath(device);
  if (S_ISCHR(st.st_mode))
    return QStringLiteral("device %1").arg(quint64(st.st_rdev));
  return QStringLiteral("file %1 %2").arg(quint64(st.st_dev)).arg(quint64(st.st_ino));
}

} // namespace serial
