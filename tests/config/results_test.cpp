#include <gtest/gtest.h>

#include <string>

#include "data/results.h"
#include "guiauto.h"

namespace {

using guiauto::BoxIcon;

TEST(Results, KeyProblemIsShownOnceThenTheFallback)
{
    guiauto::MessageBoxCatcher boxes("ktcfg");
    EXPECT_EQ(SetKeyProblem("HKEY_LOCAL_MACHINE", "SYSTEM\\X\\Card", "SaveCards"), -1);
    ReportResult(-1);
    ReportResult(-1);
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Key problem with HKEY_LOCAL_MACHINE\\SYSTEM\\X\\Card : SaveCards");
    EXPECT_EQ(shown[0].icon, BoxIcon::Error);
    EXPECT_EQ(shown[1].text, "Key problem in the registry");
}

TEST(Results, EachFailureCodeHasItsMessageAndSuccessesShowNothing)
{
    guiauto::MessageBoxCatcher boxes("ktcfg");
    for (int code : {1, 2, 5, 0, 3, -6, -2, -3, -4, -5}) ReportResult(code);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{
                                 "Saving the value in the registry failed",
                                 "Getting a registry value failed",
                                 "Deleting a registry value failed",
                                 "Using the service-manager failed",
                             }));
    for (const auto& box : boxes.Boxes()) EXPECT_EQ(box.icon, BoxIcon::Error);
}

TEST(Results, UnreportedKeyProblemStaysPendingForTheNextReport)
{
    guiauto::MessageBoxCatcher boxes("ktcfg");
    SetKeyProblem("HKEY_LOCAL_MACHINE", "A", "in GetErrorDesc");  // never reported by its caller
    ReportResult(-2);
    ReportResult(-1);
    EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{
                                 "Saving the value in the registry failed",
                                 "Key problem with HKEY_LOCAL_MACHINE\\A : in GetErrorDesc",
                             }));
}

TEST(Results, OverlongKeyProblemIsCutToTheBuffer)
{
    const std::string path(3000, 'k');
    SetKeyProblem("HKEY_LOCAL_MACHINE", path.c_str(), "GetCards");
    std::string text;
    ASSERT_TRUE(TakeResultMessage(-1, text));
    EXPECT_EQ(text.size(), kKeyProblemChars - 1);
    EXPECT_EQ(text.rfind("Key problem with HKEY_LOCAL_MACHINE\\kkk", 0), 0u);
    ASSERT_TRUE(TakeResultMessage(-1, text));
    EXPECT_EQ(text, "Key problem in the registry");
}

TEST(Results, WarningsUseTheWarningIcon)
{
    guiauto::MessageBoxCatcher boxes("ktcfg");
    ShowWarning("Can't find Key for EnumService");
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Can't find Key for EnumService");
    EXPECT_EQ(shown[0].icon, BoxIcon::Warning);
}

}  // namespace
