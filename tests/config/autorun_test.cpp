#include <gtest/gtest.h>

#include <string>

#include "data/autorun.h"
#include "data/registry_paths.h"
#include "key_security.h"
#include "simulated_registry.h"

namespace {

const char kMachineRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class Autorun : public SimulatedRegistry {
protected:
    void SetUp() override
    {
        SimulatedRegistry::SetUp();
        Forget();
    }
    void TearDown() override
    {
        Forget();
        cardsim::SetDacl(HKEY_CURRENT_USER, RunKeyPath, "D:NO_ACCESS_CONTROL");
        cardsim::DeleteTree(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath);
        SimulatedRegistry::TearDown();
    }
    void Forget()
    {
        HKEY key;
        if (RegOpenKeyA(HKEY_CURRENT_USER, RunKeyPath, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "ktcfgchk");
            RegCloseKey(key);
        }
    }
    void SetInstallPath(const std::string& path)
    {
        ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "InstallPath", path),
                  ERROR_SUCCESS);
    }
    // The text of a Run value, and whether it exists as REG_SZ. (The tool stores it without a
    // terminating zero; Wine adds one when it converts the text, so the size cannot be checked.)
    static bool RunValue(HKEY root, const char* path, std::string& data)
    {
        char buffer[600] = {};
        DWORD size = sizeof buffer - 1, type = 0;
        HKEY key;
        if (RegOpenKeyA(root, path, &key) != ERROR_SUCCESS) return false;
        LONG rc = RegQueryValueExA(key, "ktcfgchk", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        data = buffer;
        return rc == ERROR_SUCCESS && type == REG_SZ;
    }
};

TEST_F(Autorun, CommandLineIsTheSameWithOrWithoutTrailingBackslash)
{
    std::string data;
    SetInstallPath("C:\\Q");
    EXPECT_EQ(MakeAutorun(1), kResultOk);
    ASSERT_TRUE(RunValue(HKEY_CURRENT_USER, RunKeyPath, data));
    EXPECT_EQ(data, "C:\\Q\\ktcfgchk.exe reg");
    EXPECT_EQ(IsAutorunSet(), 1);

    SetInstallPath("C:\\Q\\");
    EXPECT_EQ(MakeAutorun(1), kResultOk);
    ASSERT_TRUE(RunValue(HKEY_CURRENT_USER, RunKeyPath, data));
    EXPECT_EQ(data, "C:\\Q\\ktcfgchk.exe reg");
}

TEST_F(Autorun, UnregisteringTwiceFailsTheSecondTime)
{
    SetInstallPath("C:\\Q");
    ASSERT_EQ(MakeAutorun(1), kResultOk);
    EXPECT_EQ(MakeAutorun(0), kResultOk);
    EXPECT_EQ(IsAutorunSet(), 0);
    EXPECT_EQ(MakeAutorun(0), kResultDeleteFailed);
}

TEST_F(Autorun, MachineWideRunValueIsNotTouched)
{
    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, kMachineRun, "ktcfgchk", "machine"), ERROR_SUCCESS);
    SetInstallPath("C:\\Q");
    EXPECT_EQ(MakeAutorun(1), kResultOk);
    EXPECT_EQ(MakeAutorun(0), kResultOk);
    std::string data;
    ASSERT_TRUE(RunValue(HKEY_LOCAL_MACHINE, kMachineRun, data));
    EXPECT_EQ(data, "machine");
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kMachineRun, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "ktcfgchk");
    RegCloseKey(key);
}

TEST_F(Autorun, MissingOrUnusableInstallPathWritesNothing)
{
    EXPECT_EQ(MakeAutorun(1), kResultKeyProblem);
    EXPECT_EQ(std::string(KeyProblemText),
              std::string("Key problem with HKEY_LOCAL_MACHINE\\") + ProductKeyPath + " : for meke autorun");
    KeyProblemText[0] = 0;
    ASSERT_EQ(cardsim::SetText(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "Other", "x"), ERROR_SUCCESS);
    EXPECT_EQ(MakeAutorun(1), kResultReadFailed);
    // 244 characters: the command line would need 261.
    SetInstallPath("C:\\" + std::string(241, 'p'));
    EXPECT_EQ(MakeAutorun(1), kResultSaveFailed);
    EXPECT_EQ(IsAutorunSet(), 0);
    SetInstallPath("C:\\" + std::string(240, 'p'));
    EXPECT_EQ(MakeAutorun(1), kResultOk);
}

TEST_F(Autorun, ReadOnlyRunKeyIsGrantedForTheWriteAndRestored)
{
    SetInstallPath("C:\\Q");
    ASSERT_EQ(cardsim::SetDacl(HKEY_CURRENT_USER, RunKeyPath, "D:(A;;KRWD;;;BA)(A;;KA;;;SY)"), ERROR_SUCCESS);
    const std::string before = cardsim::DaclOf(HKEY_CURRENT_USER, RunKeyPath);
    EXPECT_EQ(MakeAutorun(1), kResultOk);
    EXPECT_EQ(IsAutorunSet(), 1);
    EXPECT_EQ(cardsim::DaclOf(HKEY_CURRENT_USER, RunKeyPath), before);
    EXPECT_EQ(MakeAutorun(0), kResultOk);
    EXPECT_EQ(cardsim::DaclOf(HKEY_CURRENT_USER, RunKeyPath), before);
}

}  // namespace
