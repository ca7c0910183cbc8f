// The automation helper that every GUI test relies on.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "guiauto.h"

namespace {

TEST(GuiAuto, CatcherRecordsTextAndIconAndGivesTheChosenAnswer)
{
    guiauto::MessageBoxCatcher boxes("probe", IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Reboot now ?", "probe", MB_YESNO | MB_ICONQUESTION), IDNO);
    boxes.SetAnswer(IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "plain", "probe", MB_OK), IDOK);
    auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Reboot now ?");
    EXPECT_EQ(shown[0].icon, guiauto::BoxIcon::Question);
    EXPECT_EQ(shown[1].icon, guiauto::BoxIcon::None);
}

TEST(GuiAuto, WatchdogEndsAModalLoopNobodyAnswers)
{
    guiauto::Watchdog watchdog(300);
    MessageBoxA(nullptr, "nobody answers", "stuck", MB_OK);
    EXPECT_TRUE(watchdog.fired());
}

TEST(GuiAuto, ScreenshotOfAWindowIsAPngOfItsSize)
{
    HWND window = CreateWindowA("STATIC", "shot", WS_POPUP | WS_VISIBLE | WS_BORDER, 10, 10, 120, 80,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    UpdateWindow(window);
    const std::string path = guiauto::ScreenshotDir() + "\\guiauto_probe.png";
    ASSERT_TRUE(guiauto::SaveScreenshot(window, path));
    DestroyWindow(window);

    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::vector<unsigned char> head(24);
    ASSERT_EQ(std::fread(head.data(), 1, head.size(), file), head.size());
    std::fclose(file);
    std::remove(path.c_str());
    EXPECT_EQ(head[0], 0x89);
    EXPECT_EQ(head[1], 'P');
    EXPECT_EQ((head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19], 120);  // width
    EXPECT_EQ((head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23], 80);   // height
}

}  // namespace
