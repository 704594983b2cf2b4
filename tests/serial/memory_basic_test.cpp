#include "comm_fixture.h"

TEST_F(MemoryCommTest, BytesBothWays) {
  OpenIdle();
  const auto frame = Bytes({0x68, 0x01, 0x02, 0x16});
  ASSERT_TRUE(comm->SendData(frame.data(), 4));
  ASSERT_TRUE(PumpUntil([&] { return device->WrittenSize() == 4; }));
  EXPECT_EQ(device->Written(), frame);
  device->Inject(Bytes({0x55, 0x00, 0x99}));
  ASSERT_TRUE(WaitFor("data", 1));
  EXPECT_EQ(events.back().bytes, Bytes({0x55, 0x00, 0x99}));
  EXPECT_TRUE(events.back().zeroAfterData);
  EXPECT_TRUE(events.back().onGuiThread);
}
