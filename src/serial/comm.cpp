#include "serial/comm.h"

class SerialLayer {
public:
  virtual ~SerialLayer() = default;
};

TComm::TComm(QObject *owner, std::shared_ptr<SerialLayer> layer) : QObject(owner), layer_(std::move(layer)) {}
TComm::~TComm() = default;

void TComm::OpenPort() { throw ECommsError(QStringLiteral("Error opening serial port")); }
void TComm::ClosePort() {}
bool TComm::SendData(const void *, uint16_t) { return false; }
bool TComm::IsOpen() const { return false; }

std::shared_ptr<SerialLayer> MakePlatformSerialLayer() { return std::make_shared<SerialLayer>(); }
