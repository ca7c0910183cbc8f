#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim.h"
#include "data/registry_readers.h"

namespace {

const char kScratch[] = "Software\\KtTest\\Readers";

class RegistryReaders : public testing::Test {
protected:
    void SetUp() override
    {
        cardsim::DeleteTree(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kScratch, &key), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(key);
        cardsim::DeleteTree(HKEY_CURRENT_USER, kScratch);
    }
    void Set(const std::string& name, DWORD type, const std::vector<uint8_t>& data)
    {
        ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    void SetText(const std::string& name, const std::string& text)
    {
        Set(name, REG_SZ, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
    }
    void SetDword(const std::string& name, DWORD value)
    {
        Set(name, REG_DWORD, std::vector<uint8_t>(reinterpret_cast<uint8_t*>(&value),
                                                  reinterpret_cast<uint8_t*>(&value) + 4));
    }

    HKEY key = nullptr;
};

TEST_F(RegistryReaders, DwordNamesAreMatchedCaseSensitively)
{
    SetDword("flags", 7);
    DWORD value = 0;
    EXPECT_EQ(GetDwordValue("Flags", key, &value), 0);
    EXPECT_EQ(GetDwordValue("flags", key, &value), 1);
    EXPECT_EQ(value, 7u);
}

TEST_F(RegistryReaders, DwordIgnoresTypeAndSkipsDataThatDoesNotFit)
{
    Set("Big", REG_BINARY, std::vector<uint8_t>(300, 0xAA));  // before the match: must not stop the scan
    Set(std::string(300, 'N'), REG_DWORD, {1, 0, 0, 0});      // name longer than the buffer
    Set("Wide", REG_BINARY, {1, 2, 3, 4, 5});
    Set("Short", REG_BINARY, {0x34, 0x12});
    SetText("Text", "ab");
    SetDword("Flags", 0x17);

    DWORD value = 0xDEADBEEF;
    EXPECT_EQ(GetDwordValue("Wide", key, &value), 0);
    EXPECT_EQ(value, 0xDEADBEEFu);
    EXPECT_EQ(GetDwordValue("Short", key, &value), 1);
    EXPECT_EQ(value, 0x1234u);
    EXPECT_EQ(GetDwordValue("Text", key, &value), 1);
    EXPECT_EQ(value, 0x6261u);
    EXPECT_EQ(GetDwordValue("Flags", key, &value), 1);
    EXPECT_EQ(value, 0x17u);
    EXPECT_EQ(GetDwordValue("Missing", key, &value), 0);
}

// One pass over the values finds exactly what one enumeration per value would.
TEST_F(RegistryReaders, OnePassReadsWhatTheSingleReadersRead)
{
    Set("Big", REG_BINARY, std::vector<uint8_t>(300, 0xAA));
    Set("Wide", REG_BINARY, {1, 2, 3, 4, 5});
    Set("Short", REG_BINARY, {0x34, 0x12});
    SetText("Text", "ab");
    SetText("Other", "lower case");
    SetText("Long", std::string(400, 'L'));
    SetText("Desc", std::string(150, 'd'));
    SetDword("Flags", 0x17);

    DWORD wide = 1, shortValue = 2, text = 3, flags = 4, missing = 5;
    char desc[100] = "-", big[100] = "-", longText[100] = "-", lower[100] = "-";
    WantedValue wanted[] = {{"Wide", WantedValue::Dword, &wide, 0, true},
                            {"Short", WantedValue::Dword, &shortValue, 0, false},
                            {"Text", WantedValue::Dword, &text, 0, false},
                            {"Flags", WantedValue::Dword, &flags, 0, false},
                            {"Missing", WantedValue::Dword, &missing, 0, false},
                            {"Desc", WantedValue::Text, desc, sizeof desc, false},
                            {"Big", WantedValue::Text, big, sizeof big, false},
                            {"Long", WantedValue::Text, longText, sizeof longText, false},
                            {"Other", WantedValue::Text, lower, sizeof lower, false}};
    ReadValues(key, wanted);
    for (const WantedValue& w : wanted) {
        DWORD single = 0;
        char singleText[100] = {};
        const int expected = w.kind == WantedValue::Dword ? GetDwordValue(w.name, key, &single)
                                                          : GetStringValue(w.name, key, singleText);
        EXPECT_EQ(w.found, expected == 1) << w.name;
        if (!w.found) continue;
        if (w.kind == WantedValue::Dword) EXPECT_EQ(*static_cast<DWORD*>(w.out), single) << w.name;
        else EXPECT_STREQ(static_cast<char*>(w.out), singleText) << w.name;
    }
    EXPECT_EQ(wide, 1u);  // not found: untouched
    EXPECT_EQ(flags, 0x17u);
    EXPECT_EQ(std::string(desc), std::string(99, 'd'));
    EXPECT_STREQ(lower, "lower case");
}

TEST_F(RegistryReaders, StringsAreCutToTheCallersBufferAndOversizedDataIsMissing)
{
    SetText("Long", std::string(150, 'x'));
    SetText("Max", std::string(260, 'm'));   // 261 bytes with the terminator: fits
    SetText("Over", std::string(261, 'o'));  // 262 bytes: cannot be enumerated
    Set("Raw", REG_BINARY, {'a', 'b', 'c'}); // no terminator stored
    SetText("desc", "lower");

    char text[100];
    ASSERT_EQ(GetStringValue("Long", key, text), 1);
    EXPECT_EQ(std::string(text), std::string(99, 'x'));
    char path[261];
    ASSERT_EQ(GetStringValue("Max", key, path), 1);
    EXPECT_EQ(std::string(path), std::string(260, 'm'));
    EXPECT_EQ(GetStringValue("Over", key, path), 0);
    ASSERT_EQ(GetStringValue("Raw", key, text), 1);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(GetStringValue("Desc", key, text), 0);
}

TEST_F(RegistryReaders, FixedValueNeedsDataNoLongerThanTheBuffer)
{
    Set("Exact", REG_BINARY, std::vector<uint8_t>(32, 0x11));
    Set("Longer", REG_BINARY, std::vector<uint8_t>(33, 0x22));
    Set("Shorter", REG_BINARY, std::vector<uint8_t>(16, 0x33));

    uint8_t buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), 0x99);
    EXPECT_EQ(GetFixedValue("Longer", key, buffer, 32), 0);
    EXPECT_EQ(buffer[0], 0x99);
    EXPECT_EQ(GetFixedValue("Missing", key, buffer, 32), 0);
    ASSERT_EQ(GetFixedValue("Exact", key, buffer, 32), 1);
    EXPECT_EQ(buffer[31], 0x11);
    ASSERT_EQ(GetFixedValue("Shorter", key, buffer, 32), 1);
    EXPECT_EQ(buffer[15], 0x33);
    EXPECT_EQ(buffer[16], 0x00);  // beyond the stored bytes
}

}  // namespace
