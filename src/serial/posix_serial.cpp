#include "serial/comm.h"
#include "serial/memory_serial.h"

// Until the terminal layer is in place, no device can be opened.
std::shared_ptr<SerialLayer> MakePlatformSerialLayer() { return std::make_shared<MemorySerialLayer>(); }
