// Granting and restoring key access against the Wine registry. Wine keeps DACLs exactly as set
// (within one server lifetime), so the tests compare DACL bytes read back.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "cardsim.h"
#include "dacl_refusal.h"
#include "import_hook.h"
#include "key_security.h"
#include "regrights.h"

namespace {

const std::string kBase = "Software\\KtTest\\Rights";
// Administrators (the test user's group) may read and change the DACL, but not write: a grant is
// needed before any value can be set.
const char kReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;SY)";
const char kOtherReadOnly[] = "D:(A;;KRWD;;;BA)(A;;KA;;;LS)";

class KeyRights : public testing::Test {
protected:
    void SetUp() override
    {
        Clean();
        for (const char* path : {"A\\B\\C", "A\\D"}) Create(path);
    }
    void TearDown() override { Clean(); }

    void Clean()
    {
        cardsim::SetSubtreeDacl(HKEY_CURRENT_USER, kBase, "D:NO_ACCESS_CONTROL");
        cardsim::DeleteTree(HKEY_CURRENT_USER, kBase.c_str());
    }
    static std::string Path(const std::string& relative) { return kBase + "\\" + relative; }
    void Create(const std::string& relative)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, Path(relative).c_str(), &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void Restrict(const std::string& relative, const char* sddl)
    {
        ASSERT_EQ(cardsim::SetDacl(HKEY_CURRENT_USER, Path(relative), sddl), ERROR_SUCCESS);
    }
    static std::string Dacl(const std::string& relative) { return cardsim::DaclOf(HKEY_CURRENT_USER, Path(relative)); }
    static LONG WriteValue(const std::string& relative)
    {
        HKEY key;
        LONG rc = RegOpenKeyA(HKEY_CURRENT_USER, Path(relative).c_str(), &key);
        if (rc != ERROR_SUCCESS) return rc;
        DWORD one = 1;
        rc = RegSetValueExA(key, "Probe", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
        RegCloseKey(key);
        return rc;
    }
};

TEST_F(KeyRights, KeyTheUserFullyControlsIsLeftAlone)
{
    const std::string before = Dacl("A");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path("A").c_str(), 0, READ_CONTROL, &key), ERROR_SUCCESS);
    EXPECT_EQ(KeyNeedsAccess(key), 0u);
    RegCloseKey(key);

    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 1), 0u);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->savedDacl, nullptr);
    EXPECT_EQ(Dacl("A"), before);
    EXPECT_EQ(RestoreKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), tree, 1), 0u);
    FreeKeyAccessTree(tree);
    EXPECT_EQ(Dacl("A"), before);
    EXPECT_EQ(Dacl("A\\B\\C"), before);
}

TEST_F(KeyRights, DenyForOneOfTheUsersGroupsNeedsAGrantDespiteAFullAllow)
{
    Restrict("A", "D:(A;;KA;;;BA)(D;;0x2;;;BU)");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path("A").c_str(), 0, READ_CONTROL, &key), ERROR_SUCCESS);
    EXPECT_EQ(KeyNeedsAccess(key), DWORD(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
}

using OpenTokenFunction = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
OpenTokenFunction realOpenToken;
int tokenOpens;

BOOL WINAPI CountedOpenToken(HANDLE process, DWORD access, PHANDLE token)
{
    ++tokenOpens;
    return realOpenToken(process, access, token);
}

TEST_F(KeyRights, AWalkReadsTheTokenOnceAndStillWeighsTheUsersGroupsOnEveryKey)
{
    for (const char* path : {"A\\E", "A\\F", "A\\G"}) Create(path);
    Restrict("A\\B\\C", "D:(A;;KA;;;BA)(D;;0x2;;;BU)");
    const std::string denied = Dacl("A\\B\\C");
    tokenOpens = 0;
    realOpenToken = reinterpret_cast<OpenTokenFunction>(HookImport(
        GetModuleHandleA(nullptr), "advapi32.dll", "OpenProcessToken", reinterpret_cast<void*>(CountedOpenToken)));
    ASSERT_NE(realOpenToken, nullptr);
    KeyAccessNode* tree = nullptr;
    const DWORD granted = GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 1);
    HookImport(GetModuleHandleA(nullptr), "advapi32.dll", "OpenProcessToken", reinterpret_cast<void*>(realOpenToken));
    ASSERT_EQ(granted, 0u);
    // Once for the walk over seven keys, once more for the one key that needed a grant.
    EXPECT_EQ(tokenOpens, 2);
    KeyAccessNode* b = FindAccessNode(tree, "B");
    ASSERT_NE(b, nullptr);
    ASSERT_NE(FindAccessNode(b, "C"), nullptr);
    EXPECT_NE(FindAccessNode(b, "C")->savedDacl, nullptr);
    EXPECT_EQ(FindAccessNode(tree, "E")->savedDacl, nullptr);
    EXPECT_EQ(RestoreKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), tree, 1), 0u);
    FreeKeyAccessTree(tree);
    EXPECT_EQ(Dacl("A\\B\\C"), denied);
}

TEST_F(KeyRights, GrantGivesWriteAccessAndRestorePutsBackEveryDaclByteForByte)
{
    Restrict("A", kReadOnly);
    Restrict("A\\B\\C", kOtherReadOnly);
    Restrict("A\\D", kOtherReadOnly);
    const auto before = cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase);
    ASSERT_NE(WriteValue("A"), ERROR_SUCCESS);

    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 1), 0u);
    EXPECT_EQ(WriteValue("A"), ERROR_SUCCESS);
    EXPECT_EQ(WriteValue("A\\B\\C"), ERROR_SUCCESS);
    EXPECT_EQ(WriteValue("A\\D"), ERROR_SUCCESS);
    EXPECT_EQ(Dacl("A\\B"), before.at("A\\B"));  // already fully accessible: untouched

    // The tree mirrors the keys, newest child first; names are found ignoring case.
    ASSERT_NE(tree->savedDacl, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(tree->savedDacl), tree->savedDacl->AclSize), before.at("A"));
    ASSERT_NE(tree->firstChild, nullptr);
    EXPECT_STREQ(tree->firstChild->name, "D");
    KeyAccessNode* b = FindAccessNode(tree, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->savedDacl, nullptr);
    ASSERT_NE(FindAccessNode(b, "C"), nullptr);
    EXPECT_NE(FindAccessNode(b, "C")->savedDacl, nullptr);

    EXPECT_EQ(RestoreKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), tree, 1), 0u);
    FreeKeyAccessTree(tree);
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase), before);
    EXPECT_NE(WriteValue("A"), ERROR_SUCCESS);
}

TEST_F(KeyRights, ADaclThatCannotBePutBackIsReportedAndTheOthersStillAre)
{
    Restrict("A", kReadOnly);
    Restrict("A\\B\\C", kOtherReadOnly);
    Restrict("A\\D", kOtherReadOnly);
    const auto before = cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase);
    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 1), 0u);
    {
        // A passing refusal: the second pass writes every DACL again.
        DaclRefusal refusal(GetModuleHandleA(nullptr), DaclRefusal::Writes::Restores, 1);
        EXPECT_EQ(RestoreKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), tree, 1), 0u);
        EXPECT_EQ(refusal.Refused(), 1);
    }
    FreeKeyAccessTree(tree);
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase), before);

    // A refusal below the top is the result as well.
    Restrict("A", kReadOnly);
    tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 1), 0u);
    {
        DaclRefusal refusal(GetModuleHandleA(nullptr), DaclRefusal::Writes::Restores, 1);
        HKEY top;
        ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, Path("A").c_str(), &top), ERROR_SUCCESS);
        EXPECT_EQ(RestoreKeyAccessTree(top, tree, tree->savedDacl, 1), DWORD(ERROR_ACCESS_DENIED));
        RegCloseKey(top);
    }
    FreeKeyAccessTree(tree);
}

TEST_F(KeyRights, KeyCreatedWhileGrantedGetsTheNearestSavedDacl)
{
    Restrict("A", kReadOnly);
    const auto before = cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase);
    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 1), 0u);
    Create("A\\B\\New");
    Create("A\\Fresh");
    RestoreKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), tree, 1);
    FreeKeyAccessTree(tree);
    EXPECT_EQ(Dacl("A\\B\\New"), before.at("A"));
    EXPECT_EQ(Dacl("A\\Fresh"), before.at("A"));
    EXPECT_EQ(Dacl("A\\B"), before.at("A\\B"));
    EXPECT_EQ(Dacl("A"), before.at("A"));
}

TEST_F(KeyRights, RestoringAKeyThatWasDeletedMeanwhileChangesNothing)
{
    Restrict("A\\D", kReadOnly);
    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A\\D").c_str(), &tree, 1), 0u);
    const auto granted = cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase);
    ASSERT_EQ(cardsim::DeleteTree(HKEY_CURRENT_USER, Path("A\\D").c_str()), ERROR_SUCCESS);
    auto expected = granted;
    expected.erase("A\\D");
    EXPECT_EQ(RestoreKeyAccess(HKEY_CURRENT_USER, Path("A\\D").c_str(), tree, 1), DWORD(ERROR_FILE_NOT_FOUND));
    FreeKeyAccessTree(tree);
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase), expected);
}

TEST_F(KeyRights, KeyWithoutDaclIsGrantedAndEndsWithoutDaclAgain)
{
    Restrict("A\\D", "D:NO_ACCESS_CONTROL");
    ASSERT_EQ(Dacl("A\\D"), "none");
    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A\\D").c_str(), &tree, 0), 0u);
    EXPECT_NE(Dacl("A\\D"), "none");
    EXPECT_EQ(tree->savedDacl, kNoDacl);
    RestoreKeyAccess(HKEY_CURRENT_USER, Path("A\\D").c_str(), tree, 0);
    FreeKeyAccessTree(tree);
    EXPECT_EQ(Dacl("A\\D"), "none");
}

TEST_F(KeyRights, SecondGrantWithTheSameTreeAddsANamedChild)
{
    Restrict("A", kReadOnly);
    Restrict("A\\D", kOtherReadOnly);
    const auto before = cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase);
    KeyAccessNode* tree = nullptr;
    ASSERT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), &tree, 0), 0u);
    HKEY a;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, Path("A").c_str(), 0, KEY_READ, &a), ERROR_SUCCESS);
    ASSERT_EQ(GrantKeyAccess(a, "D", &tree, 1), 0u);
    RegCloseKey(a);
    ASSERT_NE(FindAccessNode(tree, "D"), nullptr);
    EXPECT_EQ(WriteValue("A\\D"), ERROR_SUCCESS);
    RestoreKeyAccess(HKEY_CURRENT_USER, Path("A").c_str(), tree, 0);
    FreeKeyAccessTree(tree);
    EXPECT_EQ(cardsim::DaclSnapshot(HKEY_CURRENT_USER, kBase), before);
}

TEST_F(KeyRights, GrantOnAMissingKeyReturnsTheOpenErrorAndLeavesTheTreeEmpty)
{
    KeyAccessNode* tree = nullptr;
    EXPECT_EQ(GrantKeyAccess(HKEY_CURRENT_USER, Path("Missing").c_str(), &tree, 1), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(tree, nullptr);
    EXPECT_EQ(RestoreKeyAccess(HKEY_CURRENT_USER, Path("Missing").c_str(), tree, 1), 0u);
}

}  // namespace
