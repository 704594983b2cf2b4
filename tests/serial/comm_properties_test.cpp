// Properties: what a port opened as made gets, the line-settings record they build,
// and when a change reaches the port.
#include "comm_fixture.h"

#include <array>
#include <functional>

using namespace serial;

TEST(CommProperties, APortOpenedAsMadeGetsTheDefaults) {
  auto layer = std::make_shared<MemorySerialLayer>();
  auto device = layer->AddDevice(QStringLiteral("COM2")); // the name a component is made with
  TComm comm(nullptr, layer);
  EXPECT_TRUE(comm.SendDataEmpty());
  comm.OpenPort(); // no handler is bound: nothing needs one
  const LineSettings line = device->LineSettingsRecord();
  // raw, DTR on (1 << 4), continue after XOFF, XON/XOFF both ways, RTS on (1 << 12)
  EXPECT_EQ(line.Flags, 0x1u | 0x10u | 0x80u | 0x100u | 0x200u | 0x1000u);
  EXPECT_EQ(line.BaudRate, 9600u);
  EXPECT_EQ((std::array<int, 3>{line.ByteSize, line.Parity, line.StopBits}), (std::array<int, 3>{8, 0, 0}));
  EXPECT_EQ((std::array<int, 5>{line.XonLim, line.XoffLim, line.XonChar, line.XoffChar, line.ErrorChar}),
            (std::array<int, 5>{500, 500, 0x11, 0x13, 0x00}));
  EXPECT_EQ(device->TimeoutsRecord(), (CommTimeouts{100, 0, 0, 0, 0}));
}

TEST(CommProperties, Comm1ValuesGiveFlagWord0x81And38400_8N1) {
  TComm comm(nullptr, std::make_shared<MemorySerialLayer>());
  ConfigureAsComm1(comm, QStringLiteral("COM5"));
  LineSettings read;
  read.EofChar = 0x1A;
  read.EvtChar = 0x7E;
  read.BaudRate = 1200;
  read.Flags = 0xFFFFFFFF;
  const LineSettings r = comm.BuildLineSettings(read);
  EXPECT_EQ(r.Flags, 0x81u);
  EXPECT_EQ(r.BaudRate, 38400u);
  EXPECT_EQ(r.ByteSize, 8);
  EXPECT_EQ(r.Parity, 0);
  EXPECT_EQ(r.StopBits, 0);
  EXPECT_EQ(r.XonLim, 500);
  EXPECT_EQ(r.XoffLim, 500);
  EXPECT_EQ(r.XonChar, 0x11);
  EXPECT_EQ(r.XoffChar, 0x13);
  EXPECT_EQ(r.ErrorChar, 0x00);
  // Fields the component does not set keep what was read.
  EXPECT_EQ(r.EofChar, 0x1A);
  EXPECT_EQ(r.EvtChar, 0x7E);
}

TEST(CommProperties, EachPropertyOwnsItsFlagBits) {
  struct Case {
    const char *name;
    std::function<void(TComm &)> set;
    uint32_t flags;
  };
  const Case cases[] = {
      {"ParityCheck", [](TComm &c) { c.SetParityCheck(true); }, 0x81 | 0x2},
      {"Outx_CtsFlow", [](TComm &c) { c.SetOutx_CtsFlow(true); }, 0x81 | 0x4},
      {"Outx_DsrFlow", [](TComm &c) { c.SetOutx_DsrFlow(true); }, 0x81 | 0x8},
      {"DtrEnable", [](TComm &c) { c.SetDtrControl(TDtrControl::DtrEnable); }, 0x81 | 0x10},
      {"DtrHandshake", [](TComm &c) { c.SetDtrControl(TDtrControl::DtrHandshake); }, 0x81 | 0x20},
      {"DsrSensitivity", [](TComm &c) { c.SetDsrSensitivity(true); }, 0x81 | 0x40},
      {"TxContinueOnXoff off", [](TComm &c) { c.SetTxContinueOnXoff(false); }, 0x01},
      {"Outx_XonXoffFlow", [](TComm &c) { c.SetOutx_XonXoffFlow(true); }, 0x81 | 0x100},
      {"Inx_XonXoffFlow", [](TComm &c) { c.SetInx_XonXoffFlow(true); }, 0x81 | 0x200},
      {"ReplaceWhenParityError", [](TComm &c) { c.SetReplaceWhenParityError(true); }, 0x81 | 0x400},
      {"IgnoreNullChar", [](TComm &c) { c.SetIgnoreNullChar(true); }, 0x81 | 0x800},
      {"RtsEnable", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsEnable); }, 0x81 | 0x1000},
      {"RtsHandshake", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsHandshake); }, 0x81 | 0x2000},
      {"RtsTransmissionAvailable", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsTransmissionAvailable); },
       0x81 | 0x3000},
  };
  for (const Case &c : cases) {
    TComm comm(nullptr, std::make_shared<MemorySerialLayer>());
    ConfigureAsComm1(comm, QStringLiteral("COM5"));
    c.set(comm);
    EXPECT_EQ(comm.BuildLineSettings({}).Flags, c.flags) << c.name;
  }
}

TEST(CommProperties, EnumerationsMapToTheirCodes) {
  TComm comm(nullptr, std::make_shared<MemorySerialLayer>());
  const std::pair<TByteSize, int> sizes[] = {
      {TByteSize::_5, 5}, {TByteSize::_6, 6}, {TByteSize::_7, 7}, {TByteSize::_8, 8}};
  for (auto [size, bits] : sizes) {
    comm.SetByteSize(size);
    EXPECT_EQ(comm.BuildLineSettings({}).ByteSize, bits);
  }
  const TParity parities[] = {TParity::None, TParity::Odd, TParity::Even, TParity::Mark, TParity::Space};
  for (int i = 0; i < 5; ++i) {
    comm.SetParity(parities[i]);
    EXPECT_EQ(comm.BuildLineSettings({}).Parity, i);
  }
  const TStopBits stops[] = {TStopBits::_1, TStopBits::_1_5, TStopBits::_2};
  for (int i = 0; i < 3; ++i) {
    comm.SetStopBits(stops[i]);
    EXPECT_EQ(comm.BuildLineSettings({}).StopBits, i);
  }
  comm.SetXonLimit(100);
  comm.SetXoffLimit(2000);
  comm.SetXonChar(0x21);
  comm.SetXoffChar(0x23);
  comm.SetReplacedChar(0x3F);
  const LineSettings r = comm.BuildLineSettings({});
  EXPECT_EQ(r.XonLim, 100);
  EXPECT_EQ(r.XoffLim, 2000);
  EXPECT_EQ(r.XonChar, 0x21);
  EXPECT_EQ(r.XoffChar, 0x23);
  EXPECT_EQ(r.ErrorChar, 0x3F);
}

TEST_F(MemoryCommTest, OpenWritesTimeoutsAndLineSettingsOnceKeepingUnsetFields) {
  LineSettings before;
  before.EofChar = 0x1A;
  before.EvtChar = 0x0D;
  device->SetLineSettingsRecord(before);
  ASSERT_TRUE(rig.OpenIdle());
  EXPECT_EQ(device->TimeoutsWrites(), 1);
  EXPECT_EQ(device->LineSettingsWrites(), 1);
  const LineSettings line = device->LineSettingsRecord();
  EXPECT_EQ(line.Flags, 0x81u);
  EXPECT_EQ(line.BaudRate, 38400u);
  EXPECT_EQ(line.EofChar, 0x1A);
  EXPECT_EQ(line.EvtChar, 0x0D);
  EXPECT_EQ(device->TimeoutsRecord(), (CommTimeouts{100, 0, 0, 0, 0}));
  EXPECT_EQ(device->InQueueSize(), 4096u);
  EXPECT_EQ(device->OutQueueSize(), 4096u);
  EXPECT_EQ(device->EventMask(), 0x01A0u);
  ASSERT_FALSE(device->Purges().empty());
  EXPECT_EQ(device->Purges().front(), 0x0Fu);
}

TEST_F(MemoryCommTest, LinePropertiesWrittenWhileOpenReachThePortAtOnce) {
  struct Case {
    const char *name;
    std::function<void(TComm &)> set;
    std::function<bool(const LineSettings &)> check;
  };
  const Case cases[] = {
      {"BaudRate", [](TComm &c) { c.SetBaudRate(9600); }, [](const LineSettings &r) { return r.BaudRate == 9600; }},
      {"ParityCheck", [](TComm &c) { c.SetParityCheck(true); }, [](const LineSettings &r) { return r.Flags & 0x2; }},
      {"Outx_CtsFlow", [](TComm &c) { c.SetOutx_CtsFlow(true); }, [](const LineSettings &r) { return r.Flags & 0x4; }},
      {"Outx_DsrFlow", [](TComm &c) { c.SetOutx_DsrFlow(true); }, [](const LineSettings &r) { return r.Flags & 0x8; }},
      {"DtrControl", [](TComm &c) { c.SetDtrControl(TDtrControl::DtrHandshake); },
       [](const LineSettings &r) { return (r.Flags & 0x30) == 0x20; }},
      {"DsrSensitivity", [](TComm &c) { c.SetDsrSensitivity(true); },
       [](const LineSettings &r) { return r.Flags & 0x40; }},
      {"TxContinueOnXoff", [](TComm &c) { c.SetTxContinueOnXoff(false); },
       [](const LineSettings &r) { return !(r.Flags & 0x80); }},
      {"Outx_XonXoffFlow", [](TComm &c) { c.SetOutx_XonXoffFlow(true); },
       [](const LineSettings &r) { return r.Flags & 0x100; }},
      {"Inx_XonXoffFlow", [](TComm &c) { c.SetInx_XonXoffFlow(true); },
       [](const LineSettings &r) { return r.Flags & 0x200; }},
      {"ReplaceWhenParityError", [](TComm &c) { c.SetReplaceWhenParityError(true); },
       [](const LineSettings &r) { return r.Flags & 0x400; }},
      {"IgnoreNullChar", [](TComm &c) { c.SetIgnoreNullChar(true); },
       [](const LineSettings &r) { return r.Flags & 0x800; }},
      {"RtsControl", [](TComm &c) { c.SetRtsControl(TRtsControl::RtsHandshake); },
       [](const LineSettings &r) { return (r.Flags & 0x3000) == 0x2000; }},
      {"XonLimit", [](TComm &c) { c.SetXonLimit(7); }, [](const LineSettings &r) { return r.XonLim == 7; }},
      {"XoffLimit", [](TComm &c) { c.SetXoffLimit(9); }, [](const LineSettings &r) { return r.XoffLim == 9; }},
      {"ByteSize", [](TComm &c) { c.SetByteSize(TByteSize::_7); },
       [](const LineSettings &r) { return r.ByteSize == 7; }},
      {"StopBits", [](TComm &c) { c.SetStopBits(TStopBits::_2); },
       [](const LineSettings &r) { return r.StopBits == 2; }},
      {"XonChar", [](TComm &c) { c.SetXonChar(0x01); }, [](const LineSettings &r) { return r.XonChar == 0x01; }},
      {"XoffChar", [](TComm &c) { c.SetXoffChar(0x02); }, [](const LineSettings &r) { return r.XoffChar == 0x02; }},
      {"ReplacedChar", [](TComm &c) { c.SetReplacedChar(0x03); },
       [](const LineSettings &r) { return r.ErrorChar == 0x03; }},
  };
  ASSERT_TRUE(rig.OpenIdle());
  for (const Case &c : cases) {
    const int before = device->LineSettingsWrites();
    c.set(*comm);
    EXPECT_EQ(device->LineSettingsWrites(), before + 1) << c.name;
    EXPECT_TRUE(c.check(device->LineSettingsRecord())) << c.name;
    c.set(*comm); // the same value again does nothing
    EXPECT_EQ(device->LineSettingsWrites(), before + 1) << c.name;
  }
  EXPECT_EQ(device->TimeoutsWrites(), 1);
}

TEST_F(MemoryCommTest, TimeoutPropertiesWrittenWhileOpenReachThePortAtOnce) {
  ASSERT_TRUE(rig.OpenIdle());
  comm->SetReadIntervalTimeout(100); // unchanged: nothing written
  EXPECT_EQ(device->TimeoutsWrites(), 1);
  comm->SetReadIntervalTimeout(50);
  comm->SetReadTotalTimeoutMultiplier(2);
  comm->SetReadTotalTimeoutConstant(3);
  comm->SetWriteTotalTimeoutMultiplier(4);
  comm->SetWriteTotalTimeoutConstant(5);
  EXPECT_EQ(device->TimeoutsWrites(), 6);
  EXPECT_EQ(device->TimeoutsRecord(), (CommTimeouts{50, 2, 3, 4, 5}));
  EXPECT_EQ(device->LineSettingsWrites(), 1);
}

TEST_F(MemoryCommTest, ParityWhileOpenWaitsForTheNextRewrite) {
  ASSERT_TRUE(rig.OpenIdle());
  comm->SetParity(TParity::Even);
  EXPECT_EQ(comm->Parity(), TParity::Even);
  EXPECT_EQ(device->LineSettingsWrites(), 1);
  EXPECT_EQ(device->LineSettingsRecord().Parity, 0);
  comm->SetStopBits(TStopBits::_2); // rewrites the whole record, parity included
  EXPECT_EQ(device->LineSettingsWrites(), 2);
  EXPECT_EQ(device->LineSettingsRecord().Parity, 2);
}

TEST_F(MemoryCommTest, ParityTakesEffectAtTheNextOpen) {
  ASSERT_TRUE(rig.OpenIdle());
  comm->SetParity(TParity::Odd);
  comm->ClosePort();
  comm->OpenPort();
  EXPECT_EQ(device->LineSettingsRecord().Parity, 1);
}

TEST_F(MemoryCommTest, PropertiesWrittenWhileClosedTouchNothing) {
  comm->SetBaudRate(115200);
  comm->SetReadIntervalTimeout(20);
  EXPECT_EQ(device->LineSettingsWrites(), 0);
  EXPECT_EQ(device->TimeoutsWrites(), 0);
  comm->OpenPort();
  EXPECT_EQ(device->LineSettingsRecord().BaudRate, 115200u);
  EXPECT_EQ(device->TimeoutsRecord().ReadIntervalTimeout, 20u);
}

TEST_F(MemoryCommTest, CommNameWhileOpenKeepsTheOldPortUntilReopened) {
  auto other = layer->AddDevice(QStringLiteral("COM7"));
  ASSERT_TRUE(rig.OpenIdle());
  comm->SetCommName(QStringLiteral("COM7"));
  EXPECT_EQ(comm->CommName(), QStringLiteral("COM7"));
  ASSERT_TRUE(rig.Send(Bytes({1, 2})));
  ASSERT_TRUE(PumpUntil([&] { return device->WrittenSize() == 2; }));
  EXPECT_FALSE(other->IsOpen());
  comm->ClosePort();
  comm->OpenPort();
  EXPECT_TRUE(other->IsOpen());
  EXPECT_FALSE(device->IsOpen());
}
