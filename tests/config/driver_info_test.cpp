#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "data/driver_info.h"
#include "data/registry_paths.h"
#include "simulated_registry.h"

namespace {

using cardsim::Installation;

void Drop(std::vector<cardsim::NamedText>& texts, const std::string& name)
{
    texts.erase(std::remove_if(texts.begin(), texts.end(), [&](const auto& t) { return t.first == name; }),
                texts.end());
}

std::vector<std::string> DriverFiles()
{
    std::vector<std::string> files;
    for (const DriverListEntry& entry : DriverList) files.push_back(entry.name);
    return files;
}

class DriverInformation : public SimulatedRegistry {
protected:
    void SetUp() override
    {
        SimulatedRegistry::SetUp();
        DriverInfo = {};
        DriverList.clear();
    }
    const std::string enumerator = std::string("HKEY_LOCAL_MACHINE\\") + EnumeratorPath;
};

TEST_F(DriverInformation, ReadsTheTextsAndOnlyTwoCharacterFileEntries)
{
    Installation installation = cardsim::BuildInstallation({});
    installation.driverList = {{"01", "ktcnt.sys"},   {"02", "ktsnt.sys"},
                               {"Readme", "x.txt"},  {"1", "one.sys"},
                               {"001", "three.sys"}, {"03", std::string(101, 'f')}};  // 102 bytes
    Install(installation);

    ASSERT_EQ(GetDriverInfo(), kResultOk);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_STREQ(DriverInfo.Date, "11/20/2006");
    EXPECT_STREQ(DriverInfo.Provider, "Tervane");
    EXPECT_STREQ(DriverInfo.Version, "4.11.0.0");
    EXPECT_STREQ(DriverInfo.EnumService, "ktcnt");
    EXPECT_STREQ(DriverInfo.SerService, "ktsnt");
    EXPECT_STREQ(DriverInfo.ParService, "ktpptnt");
    EXPECT_STREQ(DriverInfo.ParMiniService, "ktpnt");
    EXPECT_EQ(DriverFiles(), (std::vector<std::string>{"ktcnt.sys", "ktsnt.sys"}));

    // A second start of the tool in the same process reads the list afresh.
    ASSERT_EQ(GetDriverInfo(), kResultOk);
    EXPECT_EQ(DriverList.size(), 2u);
}

TEST_F(DriverInformation, MissingTextsReadAsUnknownAndMissingServicesAreWarnedAbout)
{
    Installation installation = cardsim::BuildInstallation({});
    Drop(installation.enumeratorTexts, "Version");
    Drop(installation.enumeratorTexts, "SerService");
    Drop(installation.enumeratorTexts, "ParMiniService");
    Install(installation);
    kt::CopyText(DriverInfo.SerService, "earlier");

    ASSERT_EQ(GetDriverInfo(), kResultOk);
    EXPECT_STREQ(DriverInfo.Version, "???");
    EXPECT_STREQ(DriverInfo.Date, "11/20/2006");
    EXPECT_STREQ(DriverInfo.SerService, "earlier");
    EXPECT_STREQ(DriverInfo.ParMiniService, "");
    EXPECT_EQ(Boxes(), (std::vector<std::string>{"Can't find Key for SerService",
                                                 "Can't find Key for ParMiniService"}));
    for (const auto& box : boxes.Boxes()) EXPECT_EQ(box.icon, guiauto::BoxIcon::Warning);
}

TEST_F(DriverInformation, MissingKeysAreKeyProblemsAndKeepWhatWasRead)
{
    EXPECT_EQ(GetDriverInfo(), kResultKeyProblem);
    EXPECT_EQ(std::string(KeyProblemText), "Key problem with " + enumerator + " : in GetDriverInfo");

    Install();
    ASSERT_EQ(cardsim::DeleteTree(HKEY_LOCAL_MACHINE, (std::string(EnumeratorPath) + "\\DRIVERLIST").c_str()),
              ERROR_SUCCESS);
    EXPECT_EQ(GetDriverInfo(), kResultKeyProblem);
    EXPECT_EQ(std::string(KeyProblemText), "Key problem with " + enumerator + "\\DRIVERLIST : in GetDriverInfo");
    EXPECT_STREQ(DriverInfo.Provider, "Tervane");
    EXPECT_STREQ(DriverInfo.ParMiniService, "ktpnt");
    KeyProblemText[0] = 0;
}

TEST_F(DriverInformation, ErrorDescriptionsByDecimalNumber)
{
    Installation installation = cardsim::BuildInstallation({});
    installation.knownErrors.push_back({"65535", std::string(150, 'd')});
    Install(installation);
    char text[kTextChars];
    ASSERT_EQ(GetErrorDesc(0, text, sizeof text), kResultOk);
    EXPECT_STREQ(text, "This device is working properly.");
    ASSERT_EQ(GetErrorDesc(10, text, sizeof text), kResultOk);
    EXPECT_STREQ(text, "This device cannot start.");
    EXPECT_EQ(GetErrorDesc(11, text, sizeof text), kResultReadFailed);
    ASSERT_EQ(GetErrorDesc(65535, text, sizeof text), kResultOk);
    EXPECT_EQ(std::string(text), std::string(99, 'd'));
}

TEST_F(DriverInformation, MissingKnownErrorsLeavesItsTextPendingForTheNextReport)
{
    Install();
    ASSERT_EQ(cardsim::DeleteTree(HKEY_LOCAL_MACHINE, (std::string(EnumeratorPath) + "\\KNOWNERRORS").c_str()),
              ERROR_SUCCESS);
    char text[kTextChars];
    EXPECT_EQ(GetErrorDesc(10, text, sizeof text), kResultKeyProblem);
    EXPECT_TRUE(Boxes().empty());
    ReportResult(kResultKeyProblem);
    EXPECT_EQ(Boxes(), std::vector<std::string>{"Key problem with " + enumerator + "\\KNOWNERRORS : in GetErrorDesc"});
}

}  // namespace
