// Writing enable states and removals back, always with the access lists put back afterwards.
#include <gtest/gtest.h>

#include <string>

#include "dacl_refusal.h"
#include "data/autorun.h"
#include "data/device_changes.h"
#include "data/inventory.h"
#include "data/registry_paths.h"
#include "key_security.h"
#include "simulated_registry.h"

namespace {

// Administrators may read the tree and change its DACLs, but not write values: as on a real
// system, every write needs a grant first.
const char kReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)";

DWORD FlagsOf(const std::string& path)
{
    return cardsim::ReadDword(HKEY_LOCAL_MACHINE, path, "Flags");
}

bool Exists(const std::string& path)
{
    return cardsim::KeyExists(HKEY_LOCAL_MACHINE, path);
}

class DeviceChanges : public SimulatedRegistry {
protected:
    void SetUp() override
    {
        SimulatedRegistry::SetUp();
        cardsim::Layout layout;
        layout.serialPerCard = 2;
        layout.parallelPerCard = 0;
        installation = cardsim::BuildInstallation(layout);
        installation.cards[0].values.flags = 0xFD;
        installation.cards[0].ports[1].values.flags = 0x17;
        Install(installation);
        CardList.clear();
        PortList.clear();
        ASSERT_EQ(GetCards(), kResultOk);
        ASSERT_EQ(GetPorts(), kResultOk);
        ReadOnly(EnumeratorPath);
    }
    void ReadOnly(const std::string& path)
    {
        ASSERT_EQ(cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, path, kReadOnly), ERROR_SUCCESS);
        before = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, EnumeratorPath);
    }
    // Every DACL is as it was, apart from the keys that are gone.
    void ExpectAccessRestored()
    {
        auto expected = before;
        const auto now = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, EnumeratorPath);
        for (auto it = expected.begin(); it != expected.end();)
            it = now.count(it->first) ? std::next(it) : expected.erase(it);
        EXPECT_EQ(now, expected);
    }
    std::string CardPath(int c) const { return cardsim::CardPath(installation.cards[c]); }
    std::string PortPath(int c, int p) const
    {
        return cardsim::PortPath(installation.cards[c], installation.cards[c].ports[p]);
    }

    cardsim::Installation installation;
    std::map<std::string, std::string> before;
};

TEST_F(DeviceChanges, SavingReplacesBitOneAndKeepsEveryOtherBit)
{
    CardList[0].modified = 1;
    CardList[0].enabled = 1;
    PortList[1].modified = 1;
    PortList[1].enabled = 0;
    EXPECT_EQ(SaveCards(), kResultWritten);
    EXPECT_EQ(SavePorts(), kResultWritten);
    EXPECT_EQ(FlagsOf(CardPath(0)), 0xFFu);
    EXPECT_EQ(FlagsOf(PortPath(0, 1)), 0x15u);
    ExpectAccessRestored();

    CardList[0].enabled = 0;
    EXPECT_EQ(SaveCards(), kResultWritten);
    EXPECT_EQ(FlagsOf(CardPath(0)), 0xFDu);
    EXPECT_EQ(FlagsOf(CardPath(1)), cardsim::kActive);
    ExpectAccessRestored();
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(DeviceChanges, NothingMarkedWritesNothing)
{
    EXPECT_EQ(SaveCards(), kResultOk);
    EXPECT_EQ(SavePorts(), kResultOk);
    EXPECT_EQ(RemovePorts(), kResultOk);
    EXPECT_EQ(RemoveCards(), kResultOk);
    EXPECT_EQ(FlagsOf(CardPath(0)), 0xFDu);
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, EnumeratorPath), before);
}

TEST_F(DeviceChanges, FirstCardFailingLeavesTheSecondUnwritten)
{
    cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, CardPath(0), "D:NO_ACCESS_CONTROL");
    ASSERT_EQ(cardsim::DeleteTree(HKEY_LOCAL_MACHINE, CardPath(0).c_str()), ERROR_SUCCESS);
    for (CardEntry& card : CardList) card.modified = 1, card.enabled = 0;
    EXPECT_EQ(SaveCards(), kResultKeyProblem);
    EXPECT_EQ(std::string(KeyProblemText),
              "Key problem with HKEY_LOCAL_MACHINE\\" + CardPath(0) + " : SaveCards : no rights");
    EXPECT_EQ(FlagsOf(CardPath(1)), cardsim::kActive);
    ExpectAccessRestored();
    KeyProblemText[0] = 0;
}

TEST_F(DeviceChanges, AccessThatCannotBePutBackIsANoRightsProblem)
{
    CardList[1].modified = 1;
    CardList[1].enabled = 0;
    {
        // Refused in both passes of the restore.
        DaclRefusal refusal(GetModuleHandleA(nullptr), DaclRefusal::Writes::Restores);
        EXPECT_EQ(SaveCards(), kResultKeyProblem);
        EXPECT_GE(refusal.Refused(), 2);
    }
    EXPECT_EQ(std::string(KeyProblemText),
              "Key problem with HKEY_LOCAL_MACHINE\\" + CardPath(1) + " : SaveCards : no rights");
    KeyProblemText[0] = 0;
    EXPECT_EQ(FlagsOf(CardPath(1)), cardsim::kActive & ~cardsim::kEnabled);

    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "InstallPath", "C:\\Q"), ERROR_SUCCESS);
    ASSERT_EQ(cardsim::SetDacl(HKEY_CURRENT_USER, RunKeyPath, kReadOnly), ERROR_SUCCESS);
    {
        DaclRefusal refusal(GetModuleHandleA(nullptr), DaclRefusal::Writes::Restores);
        EXPECT_EQ(MakeAutorun(1), kResultKeyProblem);
    }
    EXPECT_EQ(std::string(KeyProblemText), std::string("Key problem with HKEY_CURRENT_USER\\") + RunKeyPath +
                                               " : at gaining permition");
    KeyProblemText[0] = 0;
    cardsim::SetDacl(HKEY_CURRENT_USER, RunKeyPath, "D:NO_ACCESS_CONTROL");
    MakeAutorun(0);
    cardsim::DeleteTree(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath);
}

TEST_F(DeviceChanges, RemovedKeysAreDoneWith)
{
    PortList[0].modified = PortList[0].remove = 1;
    CardList[1].modified = CardList[1].remove = 1;
    for (int32_t index : CardList[1].portIndexes) PortList[index].modified = PortList[index].remove = 1;
    EXPECT_EQ(SavePorts(), kResultWritten);
    EXPECT_EQ(RemovePorts(), kResultWritten);
    EXPECT_EQ(RemoveCards(), kResultWritten);
    EXPECT_FALSE(Exists(PortPath(0, 0)));
    EXPECT_FALSE(Exists(CardPath(1)));
    // A second round (OK again after "No" to the reboot question) has nothing left to do.
    EXPECT_EQ(SaveCards(), kResultOk);
    EXPECT_EQ(SavePorts(), kResultOk);
    EXPECT_EQ(RemovePorts(), kResultOk);
    EXPECT_EQ(RemoveCards(), kResultOk);
    EXPECT_TRUE(Boxes().empty());
    ExpectAccessRestored();
}

TEST_F(DeviceChanges, MissingFlagsWritesNothingButCounts)
{
    cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, PortPath(1, 0), "D:NO_ACCESS_CONTROL");
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, PortPath(1, 0).c_str(), &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "Flags");
    RegCloseKey(key);
    ReadOnly(EnumeratorPath);
    PortList[2].modified = 1;
    EXPECT_EQ(SavePorts(), kResultWritten);
    EXPECT_EQ(FlagsOf(PortPath(1, 0)), 0xDEADBEEFu);
    ExpectAccessRestored();
}

TEST_F(DeviceChanges, RefusedWriteIsASaveFailureAndStopsTheWalk)
{
    // A deny for the user's group stays in force after the grant.
    ASSERT_EQ(cardsim::SetDacl(HKEY_LOCAL_MACHINE, PortPath(0, 0), "D:(D;;0x2;;;BA)(A;;KRWD;;;BA)"),
              ERROR_SUCCESS);
    before = cardsim::DaclSnapshot(HKEY_LOCAL_MACHINE, EnumeratorPath);
    PortList[0].modified = PortList[1].modified = 1;
    PortList[0].enabled = PortList[1].enabled = 0;
    EXPECT_EQ(SavePorts(), kResultSaveFailed);
    EXPECT_EQ(FlagsOf(PortPath(0, 0)), cardsim::kActive);
    EXPECT_EQ(FlagsOf(PortPath(0, 1)), 0x17u);
    ExpectAccessRestored();
}

TEST_F(DeviceChanges, RemovingACardDeletesItsPortsThenItsKey)
{
    PortList[2].remove = 1;  // first port of the second card
    CardList[0].remove = 1;  // a card with two port subkeys
    EXPECT_EQ(RemovePorts(), kResultWritten);
    EXPECT_FALSE(Exists(PortPath(1, 0)));
    EXPECT_TRUE(Exists(PortPath(1, 1)));
    EXPECT_TRUE(Exists(PortPath(0, 0)));
    EXPECT_EQ(RemoveCards(), kResultWritten);
    EXPECT_FALSE(Exists(CardPath(0)));
    EXPECT_TRUE(Exists(CardPath(1)));
    ExpectAccessRestored();
}

TEST_F(DeviceChanges, KeyThatCannotBeDeletedIsADeleteFailure)
{
    cardsim::SetSubtreeDacl(HKEY_LOCAL_MACHINE, EnumeratorPath, "D:NO_ACCESS_CONTROL");
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, (PortPath(1, 1) + "\\Device Parameters\\Inner").c_str(), &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ReadOnly(EnumeratorPath);
    PortList[3].remove = 1;
    CardList[1].remove = 1;
    EXPECT_EQ(RemovePorts(), kResultDeleteFailed);
    EXPECT_EQ(RemoveCards(), kResultDeleteFailed);
    EXPECT_TRUE(Exists(CardPath(1)));
    EXPECT_FALSE(Exists(PortPath(1, 0)));  // the card's first port went before the failure
    ExpectAccessRestored();
}

}  // namespace
