#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "data/port_maps.h"
#include "simulated_registry.h"

namespace {

TEST(PortMapBits, NumberNIsBitNMinusOneCountingFromByteZero)
{
    uint8_t map[kPortMapBytes] = {};
    ReservePort(map, 1);
    ReservePort(map, 3);
    EXPECT_EQ(map[0], 0x05);
    ReservePort(map, 9);
    EXPECT_EQ(map[1], 0x01);
    ReservePort(map, 256);
    EXPECT_EQ(map[31], 0x80);
    EXPECT_EQ(IsPortReserved(map, 3), 1);
    EXPECT_EQ(IsPortReserved(map, 2), 0);
    ReleasePort(map, 3);
    EXPECT_EQ(map[0], 0x01);
    ReleasePort(map, 3);
    EXPECT_EQ(map[0], 0x01);
}

TEST(PortMapBits, NumbersOutsideTheRangeChangeNothing)
{
    uint8_t map[kPortMapBytes];
    std::memset(map, 0, sizeof map);
    for (int number : {0, -1, 257, 100000}) {
        ReservePort(map, number);
        EXPECT_EQ(IsPortReserved(map, number), 0);
    }
    for (uint8_t byte : map) EXPECT_EQ(byte, 0);
    std::memset(map, 0xFF, sizeof map);
    ReleasePort(map, 0);
    ReleasePort(map, 257);
    for (uint8_t byte : map) EXPECT_EQ(byte, 0xFF);
}

class PortMaps : public SimulatedRegistry {
protected:
    void SetUp() override
    {
        SimulatedRegistry::SetUp();
        std::memset(ComPortMap, 0xEE, kPortMapBytes);
        std::memset(LptPortMap, 0xEE, kPortMapBytes);
    }
    void TearDown() override
    {
        std::memset(ComPortMap, 0, kPortMapBytes);
        std::memset(LptPortMap, 0, kPortMapBytes);
        SimulatedRegistry::TearDown();
    }
};

TEST_F(PortMaps, ReadsBothMaps)
{
    cardsim::Installation installation = cardsim::BuildInstallation({});
    installation.comPortMap = std::vector<uint8_t>(32, 0);
    (*installation.comPortMap)[31] = 0x80;
    Install(installation);
    EXPECT_EQ(GetPortMaps(), kResultOk);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(IsPortReserved(ComPortMap, 256), 1);
    EXPECT_EQ(IsPortReserved(ComPortMap, 1), 0);
    EXPECT_EQ(LptPortMap[0], 0x01);  // the simulator reserves the machine's LPT1
}

TEST_F(PortMaps, OversizedOrMissingMapIsWarnedAboutAndLeftAsItWas)
{
    cardsim::Installation installation = cardsim::BuildInstallation({});
    installation.comPortMap = std::vector<uint8_t>(33, 0xFF);
    installation.lptPortMap.reset();
    Install(installation);
    EXPECT_EQ(GetPortMaps(), kResultOk);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Can't find Key for ComPortMap",
                                                 "Can't find Key for LptPortMap"}));
    EXPECT_EQ(boxes.Boxes()[0].icon, guiauto::BoxIcon::Warning);
    for (int i = 0; i < kPortMapBytes; ++i) {
        EXPECT_EQ(ComPortMap[i], 0xEE);
        EXPECT_EQ(LptPortMap[i], 0xEE);
    }
}

TEST_F(PortMaps, ShortMapLeavesTheRemainingNumbersFree)
{
    cardsim::Installation installation = cardsim::BuildInstallation({});
    installation.comPortMap = std::vector<uint8_t>{0x0F, 0x01};
    Install(installation);
    EXPECT_EQ(GetPortMaps(), kResultOk);
    EXPECT_EQ(ComPortMap[0], 0x0F);
    EXPECT_EQ(ComPortMap[1], 0x01);
    for (int i = 2; i < kPortMapBytes; ++i) EXPECT_EQ(ComPortMap[i], 0);
}

TEST_F(PortMaps, MissingEnumeratorKeyIsAKeyProblem)
{
    EXPECT_EQ(GetPortMaps(), kResultKeyProblem);
    EXPECT_STREQ(KeyProblemText,
                 "Key problem with HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS : in GetPortMaps");
    EXPECT_EQ(ComPortMap[0], 0xEE);
    KeyProblemText[0] = 0;
}

}  // namespace
