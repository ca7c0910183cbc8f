// A TrackbarField on real controls: range and ticks, labels, edit, enabling.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "level_text.h"
#include "trackbar_field.h"

namespace {

enum { kLow = 11, kHigh = 12, kEdit = 13, kTrackbar = 14 };

class Field : public testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        dialog = CreateWindowW(L"STATIC", L"page", WS_POPUP, 0, 0, 300, 120, nullptr, nullptr, nullptr, nullptr);
        const struct { const wchar_t* cls; int id; } controls_[] = {
            {L"STATIC", kLow}, {L"STATIC", kHigh}, {L"EDIT", kEdit}, {TRACKBAR_CLASSW, kTrackbar}};
        int x = 0;
        for (const auto& c : controls_)
            CreateWindowW(c.cls, L"Low", WS_CHILD | WS_VISIBLE, x += 60, 10, 55, 20, dialog,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
        field = TrackbarField{kLow, kHigh, kEdit, kTrackbar, 0, dialog, 0, 0, nullptr, nullptr, nullptr};
    }
    void TearDown() override { DestroyWindow(dialog); }

    std::string Text(int id)
    {
        char text[64] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }
    std::vector<int> Ticks()
    {
        HWND trackbar = GetDlgItem(dialog, kTrackbar);
        const int count = static_cast<int>(SendMessageW(trackbar, TBM_GETNUMTICS, 0, 0)) - 2;  // without both ends
        std::vector<int> ticks;
        for (int i = 0; i < count; ++i) ticks.push_back(static_cast<int>(SendMessageW(trackbar, TBM_GETTIC, i, 0)));
        return ticks;
    }
    int TrackbarPosition() { return static_cast<int>(SendDlgItemMessageW(dialog, kTrackbar, TBM_GETPOS, 0, 0)); }

    HWND dialog = nullptr;
    TrackbarField field;
};

TEST_F(Field, TicksEveryTenthOfTheRangeAndLabelsShowTheEnds)
{
    field.maximum = 128;
    field.position = 300;  // clamped
    InitialiseField(field);
    EXPECT_EQ(Ticks(), (std::vector<int>{0, 13, 26, 39, 52, 65, 78, 91, 104, 117}));
    EXPECT_EQ(Text(kLow), "0");
    EXPECT_EQ(Text(kHigh), "128");
    EXPECT_EQ(field.position, 128);
    EXPECT_EQ(Text(kEdit), "128");
    EXPECT_EQ(TrackbarPosition(), 128);

    field.maximum = 3;
    InitialiseField(field);
    EXPECT_EQ(Ticks(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(Field, EditIsReadIntoTheRangeOrRestored)
{
    static const UartDescriptor* uart = Descriptor(3);
    field.maximum = MaximumPosition(uart, kReceiveTrigger);
    field.format = [](const PortPageContext*, int position, char* text, size_t chars) {
        return FormatLevel(uart, kReceiveTrigger, position, text, chars);
    };
    field.parse = [](const PortPageContext*, const char* text) { return ParseLevel(uart, kReceiveTrigger, text); };
    InitialiseField(field);
    EXPECT_EQ(Text(kLow), "1");
    EXPECT_EQ(Text(kHigh), "14");

    SetDlgItemTextA(dialog, kEdit, "10");
    EXPECT_EQ(ReadFieldEdit(field), 2);
    EXPECT_EQ(Text(kEdit), "8");  // canonical form
    EXPECT_EQ(TrackbarPosition(), 2);

    field.parse = [](const PortPageContext*, const char*) { return 9; };  // beyond the maximum
    SetDlgItemTextA(dialog, kEdit, "junk");
    EXPECT_EQ(ReadFieldEdit(field), -1);
    EXPECT_TRUE(HandleField(field, kEdit, EN_KILLFOCUS));
    EXPECT_EQ(Text(kEdit), "8");  // the old position again
    EXPECT_FALSE(HandleField(field, kEdit, EN_CHANGE));
}

TEST_F(Field, TrackbarMovesTheFieldUnlessItIsDisabled)
{
    field.maximum = 16;
    InitialiseField(field);
    SendDlgItemMessageW(dialog, kTrackbar, TBM_SETPOS, TRUE, 5);
    EXPECT_TRUE(HandleField(field, kTrackbar, 0));
    EXPECT_EQ(field.position, 5);
    EXPECT_EQ(Text(kEdit), "5");

    EnableField(field, false);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kEdit)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kTrackbar)));
    SendDlgItemMessageW(dialog, kTrackbar, TBM_SETPOS, TRUE, 9);
    EXPECT_FALSE(HandleField(field, kTrackbar, 0));
    EXPECT_EQ(field.position, 5);
    EnableField(field, true);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kEdit)));
}

TEST_F(Field, WithoutADialogTheStoredPositionIsTheReading)
{
    field.dialog = nullptr;
    field.maximum = 16;
    field.position = 7;
    InitialiseField(field);
    SetFieldPosition(field, 4);
    EXPECT_EQ(ReadFieldEdit(field), 4);
}

}  // namespace
