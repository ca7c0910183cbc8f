#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dacl_refusal.h"
#include "data/port_maps.h"
#include "key_security.h"
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

namespace {

const char kReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)";

std::vector<uint8_t> StoredMap(const char* name)
{
    std::vector<uint8_t> data(64);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, name, RRF_RT_REG_BINARY, nullptr, data.data(),
                     &size) != ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

TEST_F(PortMaps, SavingWritesBothMapsWholeAndPutsTheAccessBack)
{
    Install();
    ASSERT_EQ(GetPortMaps(), kResultOk);
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "LPTPortMap");  // unchanged in memory, but must be written again
    RegCloseKey(key);
    ASSERT_EQ(cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, kReadOnly), ERROR_SUCCESS);
    const auto before = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath);

    ReservePort(ComPortMap, 3);
    ReservePort(ComPortMap, 9);
    EXPECT_EQ(SavePortMaps(), kResultOk);
    std::vector<uint8_t> com = StoredMap("COMPortMap");
    ASSERT_EQ(com.size(), 32u);
    EXPECT_EQ(com[0], 0x07);  // COM1, COM2 of the machine and COM3
    EXPECT_EQ(com[1], 0x01);
    EXPECT_EQ(StoredMap("LPTPortMap"), std::vector<uint8_t>(LptPortMap, LptPortMap + 32));
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath), before);
}

TEST_F(PortMaps, SavingWithoutTheEnumeratorKeyIsANoRightsProblem)
{
    EXPECT_EQ(SavePortMaps(), kResultKeyProblem);
    EXPECT_STREQ(KeyProblemText, "Key problem with HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS"
                                 " : in SavePortMaps : no rights");
    KeyProblemText[0] = 0;
}

TEST_F(PortMaps, RefusedWriteLeavesTheStoredMapsAndTheAccessAsTheyWere)
{
    Install();
    ASSERT_EQ(GetPortMaps(), kResultOk);
    const std::vector<uint8_t> com = StoredMap("COMPortMap");
    ASSERT_EQ(cardsim::SetDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, "D:(D;;0x2;;;BA)(A;;KRWD;;;BA)"),
              ERROR_SUCCESS);
    const auto before = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath);
    ReservePort(ComPortMap, 200);
    EXPECT_EQ(SavePortMaps(), kResultSaveFailed);
    EXPECT_EQ(StoredMap("COMPortMap"), com);
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath), before);
}

// Access that cannot be given back is as bad as access never obtained: the user must hear of it.
TEST_F(PortMaps, AccessThatCannotBePutBackIsANoRightsProblem)
{
    Install();
    ASSERT_EQ(GetPortMaps(), kResultOk);
    ASSERT_EQ(cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath, kReadOnly), ERROR_SUCCESS);
    const auto before = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath);
    ReservePort(ComPortMap, 9);
    {
        DaclRefusal refusal(GetModuleHandleA(nullptr), DaclRefusal::Writes::Restores);  // both passes
        EXPECT_EQ(SavePortMaps(), kResultKeyProblem);
        EXPECT_GE(refusal.Refused(), 2);
    }
    EXPECT_STREQ(KeyProblemText, "Key problem with HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS"
                                 " : in SavePortMaps : no rights");
    KeyProblemText[0] = 0;
    EXPECT_EQ(StoredMap("COMPortMap")[1], 0x01);  // written all the same
    // The refused keys keep the granted DACL.
    const auto after = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, cardsim::kEnumeratorPath);
    int differing = 0;
    for (const auto& [key, dacl] : before) differing += after.at(key) != dacl;
    EXPECT_GT(differing, 0);
}

}  // namespace
