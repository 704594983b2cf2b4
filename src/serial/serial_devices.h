#pragma once
// The serial devices present on this machine, for the port list: stable
// by-id names first, then USB serial adapters and modems, as full paths.

#include <QStringList>

QStringList ListSerialDevices();
