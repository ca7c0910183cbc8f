#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/inventory.h"
#include "data/registry_paths.h"
#include "simulated_registry.h"

namespace {

using cardsim::Installation;
using cardsim::Layout;

std::vector<std::string> OtherPortNames()
{
    std::vector<std::string> names;
    for (const OtherPortEntry& entry : OtherPortList) names.push_back(entry.name);
    return names;
}

// The registry decides the order of a map's values (Wine: by name).
std::vector<std::string> SortedOtherPortNames()
{
    std::vector<std::string> names = OtherPortNames();
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> PortNames()
{
    std::vector<std::string> names;
    for (const PortEntry& port : PortList) names.push_back(port.PortName);
    return names;
}

class Inventory : public SimulatedRegistry {
protected:
    void SetUp() override
    {
        SimulatedRegistry::SetUp();
        CardList.clear();
        PortList.clear();
        OtherPortList.clear();
    }
    // Reads cards and ports the way GetConfiguration does, with the results checked.
    void Read(int expectedCards = kResultOk)
    {
        ASSERT_EQ(GetCards(), expectedCards);
        ASSERT_EQ(GetPorts(), kResultOk);
        ASSERT_EQ(GetOtherPorts(), kResultOk);
    }
};

void ExpectEntryMatches(const cardsim::Card& card, const CardEntry& entry)
{
    const cardsim::DeviceValues& v = card.values;
    EXPECT_EQ(entry.keyPath, cardsim::CardPath(card));
    EXPECT_EQ(entry.present, static_cast<int>(*v.flags & 1));
    EXPECT_EQ(entry.enabled, static_cast<int>((*v.flags >> 1) & 1));
    EXPECT_EQ(entry.error, *v.error);
    EXPECT_EQ(entry.modified, 0);
    EXPECT_EQ(entry.remove, 0);
    EXPECT_EQ(entry.DeviceDesc, *v.deviceDesc);
    EXPECT_EQ(entry.EnumPropPages, *v.enumPropPages);
    ASSERT_EQ(entry.portIndexes.size(), card.ports.size());
    for (size_t i = 0; i < card.ports.size(); ++i) {
        const cardsim::Port& port = card.ports[i];
        const PortEntry& read = PortList.at(entry.portIndexes[i]);
        EXPECT_EQ(read.keyPath, cardsim::PortPath(card, port));
        EXPECT_EQ(read.flags, *port.values.flags);
        EXPECT_EQ(read.present, static_cast<int>(*port.values.flags & 1));
        EXPECT_EQ(read.enabled, static_cast<int>((*port.values.flags >> 1) & 1));
        EXPECT_EQ(read.error, *port.values.error);
        EXPECT_EQ(read.DeviceDesc, *port.values.deviceDesc);
        EXPECT_EQ(read.EnumPropPages, *port.values.enumPropPages);
        EXPECT_EQ(read.DeviceName, *port.values.deviceName);
        EXPECT_EQ(read.DriverName, *port.values.driverName);
        EXPECT_EQ(read.PortName, *port.values.portName);
    }
}

TEST_F(Inventory, ReadsExactlyTheSimulatedCardsAndPorts)
{
    Layout layout;
    layout.cards = 3;
    layout.serialPerCard = 4;
    layout.parallelPerCard = 2;
    layout.absentCards = {3};
    layout.disabledPorts = {{1, 2}};
    layout.portErrors = {{{2, 1}, 10}};
    layout.cardErrors = {{2, 24}};
    const Installation installation = Install(layout);

    GetConfiguration();
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(CardList.size(), 3u);
    EXPECT_EQ(PortList.size(), 18u);
    for (size_t c = 0; c < CardList.size(); ++c) {
        SCOPED_TRACE("card " + std::to_string(c + 1));
        ExpectEntryMatches(installation.cards[c], CardList[c]);
        EXPECT_EQ(CardList[c].bus, c + 1);
        EXPECT_EQ(CardList[c].device, 0x0A);
        EXPECT_EQ(CardList[c].function, 0);
        EXPECT_EQ(CardList[c].vendor, 0x5154);
        EXPECT_EQ(CardList[c].deviceId, 0x0142);
    }
    // Only the machine's own ports: the card ports in the maps are this system's active ports.
    EXPECT_EQ(OtherPortNames(), (std::vector<std::string>{"COM1", "COM2", "LPT1"}));
}

TEST_F(Inventory, ReloadingReplacesTheListsAndClearsEditMarks)
{
    Install();
    GetConfiguration();
    ASSERT_EQ(CardList.size(), 2u);
    CardList[0].modified = CardList[0].remove = 1;
    PortList[0].remove = 1;
    GetConfiguration();
    EXPECT_EQ(CardList.size(), 2u);
    EXPECT_EQ(PortList.size(), 10u);
    EXPECT_EQ(OtherPortList.size(), 3u);
    EXPECT_EQ(CardList[0].modified + CardList[0].remove + PortList[0].remove, 0);
}

TEST_F(Inventory, EmptyEnumeratorGivesNoCardsAndMissingMapsAreWarnedAbout)
{
    Installation installation = cardsim::BuildInstallation({});
    installation.cards.clear();
    installation.comPortMap.reset();
    installation.lptPortMap.reset();
    Install(installation);

    GetConfiguration();
    EXPECT_TRUE(CardList.empty());
    EXPECT_TRUE(PortList.empty());
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Can't find Key for ComPortMap",
                                                 "Can't find Key for LptPortMap"}));
}

TEST_F(Inventory, MissingEnumeratorIsReportedForCardsAndMapsButOtherPortsAreRead)
{
    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::kSerialMapPath, "\\Device\\Serial0", "COM1"),
              ERROR_SUCCESS);
    GetConfiguration();
    const std::string enumerator = std::string("HKEY_LOCAL_MACHINE\\") + EnumeratorPath;
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Key problem with " + enumerator + " : GetCards",
                                                 "Key problem with " + enumerator + " : in GetPortMaps"}));
    EXPECT_EQ(OtherPortNames(), (std::vector<std::string>{"COM1"}));
}

TEST_F(Inventory, CardsLackingRequiredValuesAreNotListedNorTheirPorts)
{
    Layout layout;
    layout.cards = 4;
    Installation installation = cardsim::BuildInstallation(layout);
    installation.cards[0].values.enumPropPages.reset();
    installation.cards[1].values.flags.reset();
    installation.cards[3].values.deviceDesc.reset();
    Install(installation);
    // "flags" in lower case is not Flags, although the registry would find it.
    ASSERT_EQ(cardsim::SetDword(HKEY_LOCAL_MACHINE, cardsim::CardPath(installation.cards[1]), "flags", 7),
              ERROR_SUCCESS);

    Read();
    ASSERT_EQ(CardList.size(), 2u);
    EXPECT_EQ(CardList[0].keyPath, cardsim::CardPath(installation.cards[2]));
    EXPECT_EQ(CardList[1].keyPath, cardsim::CardPath(installation.cards[3]));
    EXPECT_STREQ(CardList[1].DeviceDesc, "???");
    EXPECT_EQ(PortList.size(), 10u);
}

TEST_F(Inventory, UnparsableCardNameEndsTheScanKeepingEarlierCards)
{
    Layout layout;
    layout.cards = 1;
    Installation installation = cardsim::BuildInstallation(layout);
    cardsim::Card outOfOrder = installation.cards[0];
    outOfOrder.keyName = "DEV_000A&BUS_0002&FUN_0000&VEN_5154&DID_0141";
    cardsim::Card later = installation.cards[0];  // valid, but enumerated after the bad one
    later.keyName = "~BUS_0003DEV_000AFUN_0000VEN_5154DID_0141~~~";
    cardsim::Card notACard = installation.cards[0];
    notACard.keyName = "BUS_0001&DEV_000A&FUN_0000&VEN_5154";  // too short: skipped silently
    installation.cards.insert(installation.cards.begin(), notACard);
    installation.cards.push_back(outOfOrder);
    installation.cards.push_back(later);
    Install(installation);

    GetConfiguration();
    ASSERT_EQ(CardList.size(), 1u);
    EXPECT_EQ(CardList[0].bus, 1);
    EXPECT_EQ(PortList.size(), 5u);
    EXPECT_TRUE(Boxes().empty());  // 5 is not reported
}

TEST_F(Inventory, OnlyFourCharacterSubkeysWithADriverNameArePorts)
{
    Layout layout;
    layout.cards = 2;
    layout.serialPerCard = 3;
    layout.parallelPerCard = 0;
    Installation installation = cardsim::BuildInstallation(layout);
    cardsim::Card& card = installation.cards[0];
    card.ports[0].keyName = "001";
    card.ports[1].keyName = "00001";
    card.ports[2].values.portName.reset();
    card.ports[2].values.deviceName.reset();
    card.ports[2].values.deviceDesc.reset();
    cardsim::Port noDriver = card.ports[2];
    noDriver.keyName = "0005";
    noDriver.values.driverName.reset();
    cardsim::Port noPages = card.ports[2];
    noPages.keyName = "0006";
    noPages.values.enumPropPages.reset();
    card.ports.push_back(noDriver);
    card.ports.push_back(noPages);
    installation.cards[1].ports.clear();
    Install(installation);

    Read();
    ASSERT_EQ(CardList.size(), 2u);
    ASSERT_EQ(CardList[0].portIndexes.size(), 1u);
    const PortEntry& port = PortList[CardList[0].portIndexes[0]];
    EXPECT_EQ(port.keyPath, cardsim::PortPath(card, card.ports[2]));
    EXPECT_STREQ(port.PortName, "???");
    EXPECT_STREQ(port.DeviceName, "???");
    EXPECT_STREQ(port.DeviceDesc, "???");
    EXPECT_TRUE(CardList[1].portIndexes.empty());
}

TEST_F(Inventory, OnlyPortsWithFlagsSevenAndNoErrorHideTheirDeviceMapEntry)
{
    Layout layout;
    layout.cards = 1;
    layout.serialPerCard = 4;
    layout.parallelPerCard = 1;
    Installation installation = cardsim::BuildInstallation(layout);
    auto& ports = installation.cards[0].ports;
    ports[1].values.flags = 0x17;  // present, enabled, bit 2, and one more bit
    ports[2].values.error = 10;
    ports[3].values.error = 0x10000;  // only the low 16 bits count: no error
    // The serial driver lists every port of the card.
    installation.serialMap = {{"\\Device\\Serial0", "COM1"},
                              {"\\Device\\KTSerial0", "COM3"},
                              {"\\Device\\KTSerial1", "COM4"},
                              {"\\Device\\KTSerial2", "COM5"},
                              {"\\Device\\KTSerial3", "\\DosDevices\\COM6"}};
    installation.parallelMap = {{"\\Device\\ParallelPort1", "\\DosDevices\\LPT2"},
                                {"\\Device\\Parallel9", "\\DosDevices\\LPT9"}};
    Install(installation);

    Read();
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"COM3", "COM4", "COM5", "COM6", "LPT2"}));
    EXPECT_EQ(PortList[3].error, 0);
    EXPECT_EQ(SortedOtherPortNames(), (std::vector<std::string>{"COM1", "COM4", "COM5", "LPT9"}));
}

TEST_F(Inventory, OversizedTextsAreCutAndOversizedMapEntriesSkipped)
{
    Layout layout;
    layout.cards = 1;
    layout.serialPerCard = 1;
    layout.parallelPerCard = 0;
    Installation installation = cardsim::BuildInstallation(layout);
    installation.cards[0].values.deviceDesc = std::string(200, 'c');
    installation.cards[0].ports[0].values.portName = std::string(150, 'p');
    installation.cards[0].ports[0].values.deviceDesc = std::string(300, 'd');  // over 261 bytes: missing
    installation.serialMap = {{"\\Device\\Long", std::string(101, 'L')},  // 102 bytes: skipped
                              {"\\Device\\Edge", std::string(100, 'E')},  // 101 bytes: read, cut to 99
                              {"\\Device\\Serial1", "COM2"}};
    Install(installation);

    Read();
    ASSERT_EQ(CardList.size(), 1u);
    EXPECT_EQ(std::string(CardList[0].DeviceDesc), std::string(99, 'c'));
    EXPECT_EQ(std::string(PortList[0].PortName), std::string(99, 'p'));
    EXPECT_STREQ(PortList[0].DeviceDesc, "???");
    EXPECT_EQ(SortedOtherPortNames(), (std::vector<std::string>{"COM2", std::string(99, 'E'), "LPT1"}));
}

TEST_F(Inventory, CardChangesRefreshDisplayNamesOnly)
{
    const Installation installation = Install();
    Read();
    const cardsim::Card& card = installation.cards[1];
    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::CardPath(card), "DeviceDesc", "Renamed"),
              ERROR_SUCCESS);
    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::PortPath(card, card.ports[0]), "DeviceDesc",
                               "Port A"),
              ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, cardsim::PortPath(card, card.ports[1]).c_str(), &key),
              ERROR_SUCCESS);
    RegDeleteValueA(key, "DeviceDesc");
    RegDeleteValueA(key, "PortName");
    RegCloseKey(key);

    EXPECT_EQ(GetCardChanges(CardList[1].keyPath, kCardItemBase + 1), kResultOk);
    EXPECT_STREQ(CardList[1].DeviceDesc, "Renamed");
    EXPECT_STREQ(PortList[CardList[1].portIndexes[0]].DeviceDesc, "Port A");
    EXPECT_STREQ(PortList[CardList[1].portIndexes[1]].DeviceDesc, "???");
    EXPECT_STRNE(PortList[CardList[1].portIndexes[1]].PortName, "???");
    EXPECT_STRNE(CardList[0].DeviceDesc, "Renamed");
}

TEST_F(Inventory, CardChangesReportAPortKeyThatHasGone)
{
    const Installation installation = Install();
    Read();
    const cardsim::Card& card = installation.cards[0];
    const std::string gone = cardsim::PortPath(card, card.ports[2]);
    ASSERT_EQ(cardsim::DeleteTree(HKEY_LOCAL_MACHINE, gone.c_str()), ERROR_SUCCESS);

    EXPECT_EQ(GetCardChanges(CardList[0].keyPath, kCardItemBase), kResultKeyProblem);
    EXPECT_EQ(std::string(KeyProblemText), "Key problem with HKEY_LOCAL_MACHINE\\" + gone + " : GetCardChanges");
    EXPECT_EQ(GetCardChanges(CardList[0].keyPath, kCardItemBase + 7), kResultKeyProblem);
    KeyProblemText[0] = 0;
}

}  // namespace
