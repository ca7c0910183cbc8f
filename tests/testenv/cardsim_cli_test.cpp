// The simulator's command line, as the demo and later sessions use it.
#include <gtest/gtest.h>

#include <string>

#include "cardsim.h"

namespace {

DWORD RunCardsim(const std::string& arguments)
{
    std::string command = std::string("\"") + CARDSIM_PATH + "\" " + arguments;
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

DWORD ReadDword(const std::string& path, const char* name)
{
    return cardsim::ReadDword(HKEY_LOCAL_MACHINE, path, name, 0xFFFFFFFF);
}

DWORD ValueCount(const char* path)
{
    HKEY key;
    DWORD count = 0;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS) return 0xFFFFFFFF;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

std::string CardPath(int bus)
{
    return std::string(cardsim::kEnumeratorPath) + "\\" +
           cardsim::CardKeyName(static_cast<uint16_t>(bus), 0x0A, 0, 0x5154, 0x0121);
}

TEST(CardsimCommandLine, WritesTheRequestedCardsAndStates)
{
    ASSERT_EQ(RunCardsim("write --cards 3 --serial 2 --parallel 1 --absent 2 --disabled-port 1:2 "
                  "--error-port 3:1=10 --error-card 1=24 --install-path C:\\Q"),
              0u);
    EXPECT_EQ(ReadDword(CardPath(1), "Flags"), cardsim::kActive);
    EXPECT_EQ(ReadDword(CardPath(1), "Error"), 24u);
    EXPECT_EQ(ReadDword(CardPath(2), "Flags"), cardsim::kActive & ~cardsim::kPresent);
    EXPECT_EQ(ReadDword(CardPath(2) + "\\0000", "Flags"), cardsim::kActive & ~cardsim::kPresent);
    EXPECT_EQ(ReadDword(CardPath(1) + "\\0001", "Flags"), cardsim::kActive & ~cardsim::kEnabled);
    EXPECT_EQ(ReadDword(CardPath(3) + "\\0000", "Error"), 10u);
    EXPECT_EQ(ReadDword(CardPath(3) + "\\0002", "Flags"), cardsim::kActive);
    // COM1, COM2 of the machine plus the two active serial ports (card 1 port 1, card 3 port 2);
    // LPT1 plus the active parallel ports of cards 1 and 3.
    EXPECT_EQ(ValueCount(cardsim::kSerialMapPath), 4u);
    EXPECT_EQ(ValueCount(cardsim::kParallelMapPath), 3u);
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    RegGetValueA(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "InstallPath", RRF_RT_REG_SZ, nullptr,
                 path, &size);
    EXPECT_STREQ(path, "C:\\Q");

    EXPECT_EQ(RunCardsim("remove"), 0u);
    EXPECT_EQ(ValueCount(cardsim::kEnumeratorPath), 0xFFFFFFFFu);
    EXPECT_EQ(ValueCount(cardsim::kSerialMapPath), 0u);
}

TEST(CardsimCommandLine, RejectsBadArgumentsWithoutWriting)
{
    cardsim::RemoveAll();
    EXPECT_EQ(RunCardsim("write --cards x"), 2u);
    EXPECT_EQ(RunCardsim("write --error-port 1:2"), 2u);
    EXPECT_EQ(RunCardsim("write --bogus 1"), 2u);
    EXPECT_EQ(RunCardsim(""), 2u);
    EXPECT_EQ(ValueCount(cardsim::kEnumeratorPath), 0xFFFFFFFFu);
}

}  // namespace
