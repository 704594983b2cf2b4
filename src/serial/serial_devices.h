#pragma once
// The serial devices present on this machine: for the window's port list and
// for the command line's listing.
//
// How it works: the listing reads the device folder and the kernel's device
// tree (on Linux /dev and /sys; both roots can be moved, so tests build a fake
// tree in a temporary folder). Candidates are the names under
// <dev>/serial/by-id (each a link to its device), and the ttyUSB*, ttyACM* and
// ttyS* names found in either tree. A ttyS* name stands for hardware only when
// its UART type is not 0 (or, where the tree gives no type, when its device has
// a driver): the kernel creates a fixed set of legacy ttyS ports whether or not
// a UART answers there, and those are left out. A by-id name and the device it
// points to are one entry.
//
// Driver, USB ids, serial number, manufacturer and product come from the tree:
// the driver is the name of the tty's device's driver link, the rest are the
// attributes of the first folder above the tty's device that carries USB ids.
//
// Access says whether this user can open the device for the box now. Checking
// it opens the device (O_RDWR | O_NOCTTY | O_NONBLOCK) and tries the same
// exclusive lock the serial layer takes, then closes it at once: opening
// raises the modem lines of real hardware for that moment. Every call runs on
// the calling thread and only reads small files, so it returns promptly; a
// failure of one entry never fails the listing, it is kept as that entry's
// access and reason (the system's error text).

#include <QString>
#include <QStringList>
#include <vector>

namespace serial {

struct PortListRoots {
  QString dev = QStringLiteral("/dev");
  QString sys = QStringLiteral("/sys");
};

enum class PortAccess {
  Ok,           // can be opened and locked now
  NoPermission, // the user may not open it
  InUse,        // another program holds it
  Missing,      // no such device (a dangling link, a tty without its node)
  Unusable,     // opens, but is no terminal, or fails another way
  Unchecked,    // present; access was not checked
};

enum class PortCheck {
  Open,      // open and lock each device to learn its access
  Quiet,     // without opening it (a listing shown while a box is attached): permission
             // from the file's modes, in use when another process holds it open
  Existence, // only see that the device is there
};

struct SerialDeviceInfo {
  QString name;     // what to open: the by-id path when there is one, else the device path
  QString device;   // the device node (a by-id name's target)
  QString driver;   // e.g. ftdi_sio, cdc_acm, serial8250; empty when the tree names none
  QString vendorId; // USB ids as four hex digits, empty for devices not on USB
  QString productId;
  QString serial;
  QString manufacturer;
  QString product;
  PortAccess access = PortAccess::Unchecked;
  QString reason; // the system's error text when access is not Ok

  // "0403:6001", or empty.
  QString UsbId() const;
};

// By-id names first (by name), then the other devices (by name, numbers in
// names compared as numbers: ttyS2 before ttyS10).
std::vector<SerialDeviceInfo> ListSerialPorts(const PortListRoots &roots = {}, PortCheck check = PortCheck::Open);

// The class of a failed open of a serial device, by its errno value.
PortAccess AccessOfOpenError(int error);

// "ok", "no-permission", "in-use", "missing", "unusable", "unchecked".
QString PortAccessName(PortAccess access);

// What the operator reads: "ok"; "no permission (<reason>): add your user to the
// dialout group, then log in again"; "in use by another program (<reason>)";
// "missing (<reason>)"; "unusable (<reason>)"; "not checked".
QString PortAccessText(const SerialDeviceInfo &info);

// For the window's port list: by-id names and the devices without one, as full
// paths, present devices only. Opens nothing.
QStringList ListSerialDevices();

// The device a port name stands for, as production records name it: a by-id
// name when the name is one or one points to the same device, else the
// device's own path (links followed).
QString StablePortPath(const QString &portName, const PortListRoots &roots = {});

// What a port name opens, equal for two names of one port (a link, a doubled
// slash, a name under /dev and its path): a device by its number, another
// file by its inode, a name that leads nowhere by its path.
QString PortIdentity(const QString &name);

} // namespace serial
