// The pages of a port's sheet besides Settings: which pages each UART type gets, what the pages
// show and store, the levels they share, the More Hardware Settings dialog and the write rule.
#include "provider_fixture.h"

#include <algorithm>

#include "resource.h"

namespace {

constexpr uint16_t k16550 = 3, k16650 = 4, k16750 = 5, k16950 = 7;

std::vector<uint8_t> PortInfo(uint16_t uart, uint16_t receive, uint16_t buffer, uint16_t transmit, uint16_t flags = 0)
{
    std::vector<uint8_t> image(kPortInfoBytes, 0);
    Put16(image.data(), portinfo::kVersion, 1);
    Put16(image.data(), portinfo::kUartWord, uart);
    Put16(image.data(), portinfo::kReceiveTrigger, receive);
    Put16(image.data(), portinfo::kTransmitBuffer, buffer);
    Put16(image.data(), portinfo::kTransmitTrigger, transmit);
    Put16(image.data(), portinfo::kFlowFlags, flags);
    return image;
}

class Pages : public Provider {
protected:
    std::vector<uint8_t> StoredPortInfo() { return Value("PORTINFO"); }
    uint16_t Stored16(size_t offset)
    {
        const std::vector<uint8_t> image = StoredPortInfo();
        return image.size() == kPortInfoBytes ? Get16(image.data(), offset) : 0xDEAD;
    }

    // The page with that tab title, made current.
    static HWND Page(HWND sheetWindow, const std::string& title)
    {
        const std::vector<std::string> tabs = Tabs(sheetWindow);
        const auto found = std::find(tabs.begin(), tabs.end(), title);
        if (found == tabs.end()) {
            ADD_FAILURE() << "no page " << title;
            return nullptr;
        }
        SendMessageW(sheetWindow, PSM_SETCURSEL, found - tabs.begin(), 0);
        return reinterpret_cast<HWND>(SendMessageW(sheetWindow, PSM_GETCURRENTPAGEHWND, 0, 0));
    }
    static std::string Text(HWND page, int id) { return guiauto::WindowText(GetDlgItem(page, id)); }
    static bool Enabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != FALSE; }
    // Typing into an edit and leaving it.
    static void Type(HWND page, int id, const char* text)
    {
        SetDlgItemTextA(page, id, text);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
    }
    static void Slide(HWND page, int trackbar, int position)
    {
        HWND bar = GetDlgItem(page, trackbar);
        SendMessageW(bar, TBM_SETPOS, TRUE, position);
        SendMessageW(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(bar));
    }
    // A click on a check box: its mark turned over, and the page told.
    static void Toggle(HWND page, int box)
    {
        const LRESULT checked = SendDlgItemMessageW(page, box, BM_GETCHECK, 0, 0);
        SendDlgItemMessageW(page, box, BM_SETCHECK, checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(box, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page, box)));
    }
    static void Choose(HWND page, int list, int index)
    {
        SendDlgItemMessageW(page, list, CB_SETCURSEL, index, 0);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(list, CBN_SELENDOK), reinterpret_cast<LPARAM>(GetDlgItem(page, list)));
    }
    static std::vector<std::string> Items(HWND page, int list)
    {
        std::vector<std::string> items;
        for (int i = 0; i < SendDlgItemMessageA(page, list, CB_GETCOUNT, 0, 0); ++i) {
            char text[64] = {};
            SendDlgItemMessageA(page, list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            items.push_back(text);
        }
        return items;
    }
    static void Shot(HWND sheetWindow, const std::string& name)
    {
        guiauto::WaitUntilPainted(sheetWindow);
        guiauto::SaveScreenshot(sheetWindow, guiauto::ScreenshotDir() + "\\" + name + ".png");
    }
};

TEST_F(Pages, EachUartTypeGetsItsPages)
{
    // Highest type -> pages offered: Settings, Advanced, Software, then the automatic ones.
    const std::vector<std::pair<uint16_t, int>> expected = {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 5},
                                                            {5, 4}, {6, 3}, {7, 6}};
    for (const auto& [highest, pages] : expected) {
        SetFunctionality(921600, highest);
        sheethost::Sheet probe(KTS2KUI_PATH);
        EXPECT_TRUE(probe.AddPages(portPath.c_str()));
        EXPECT_EQ(probe.Offered(), pages) << "highest UART type " << highest;
    }
}

TEST_F(Pages, APageTheHostRefusesDoesNotHoldBackTheWrite)
{
    ASSERT_TRUE(sheet->AddPages(portPath.c_str(), {1}));
    guiauto::Watchdog watchdog(60000);
    std::thread driver([&] {
        HWND window = guiauto::WaitForWindow("#32770", "Port properties", 20000);
        ASSERT_NE(window, nullptr);
        Press(window, PSBTN_OK);
    });
    sheet->Show(nullptr, L"Port properties");
    driver.join();
    EXPECT_EQ(ProviderCalls::registryWrites, 4);
}

TEST_F(Pages, Advanced16550ListsItsTypesAndLevelsAndAn8250StoresNoLevels)
{
    std::vector<std::string> types;
    std::string receive, receiveLow, receiveHigh, transmit, buffer, bufferHigh;
    bool transmitEnabled = true, memoryEnabled = true, moreEnabled = true;
    RunSheet([&](HWND window, HWND) {
        HWND page = Page(window, "Advanced");
        types = Items(page, IDC_UART_TYPE);
        receive = Text(page, IDC_RX_TRIGGER_EDIT);
        receiveLow = Text(page, IDC_RX_TRIGGER_LOW);
        receiveHigh = Text(page, IDC_RX_TRIGGER_HIGH);
        transmit = Text(page, IDC_TX_TRIGGER_EDIT);
        transmitEnabled = Enabled(page, IDC_TX_TRIGGER_EDIT) || Enabled(page, IDC_TX_TRIGGER_BAR);
        buffer = Text(page, IDC_TX_BUFFER_EDIT);
        bufferHigh = Text(page, IDC_TX_BUFFER_HIGH);
        memoryEnabled = Enabled(page, IDC_MEMORY_ACCESS);
        moreEnabled = Enabled(page, IDC_MORE);
        Shot(window, "page_advanced_16550");
        Choose(page, IDC_UART_TYPE, 0);  // UART 8250
        EXPECT_FALSE(Enabled(page, IDC_RX_TRIGGER_EDIT));
        EXPECT_FALSE(Enabled(page, IDC_TX_BUFFER_BAR));
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(types, (std::vector<std::string>{"UART 8250", "UART 16450", "UART 16550"}));
    EXPECT_EQ(receive, "8");
    EXPECT_EQ(receiveLow, "1");
    EXPECT_EQ(receiveHigh, "14");
    EXPECT_EQ(transmit, "?");
    EXPECT_FALSE(transmitEnabled);
    EXPECT_EQ(buffer, "16");
    EXPECT_EQ(bufferHigh, "16");
    EXPECT_FALSE(memoryEnabled);  // no Functionality: memory access is not offered
    EXPECT_FALSE(moreEnabled);
    EXPECT_EQ(Stored16(portinfo::kUartWord), 1);
    EXPECT_EQ(Stored16(portinfo::kReceiveTrigger), 0);
    EXPECT_EQ(Stored16(portinfo::kTransmitTrigger), 0);
    EXPECT_EQ(Stored16(portinfo::kTransmitBuffer), 1);
}

// On a 16950 the three "on" levels are one setting and the three "off" levels another.
TEST_F(Pages, On16950TheOnAndOffLevelsOfAllPagesMoveTogetherAndOnStaysBelowOff)
{
    SetFunctionality(921600, k16950);
    SetProfile(L"9600,n,8,1,p");
    std::vector<uint8_t> image = PortInfo(k16950, 80, 128, 1, 0x0A);  // RTS, DTR triggered
    Put16(image.data(), portinfo::kRtsOnLevel, 30);
    Put16(image.data(), portinfo::kRtsOffLevel, 100);
    Put16(image.data(), portinfo::kDtrOnLevel, 30);
    Put16(image.data(), portinfo::kDtrOffLevel, 100);
    SetValue("PORTINFO", image);
    std::string rtsOn, xonLevel, dtrOnAfterEdit, dtrOnAfterSlide;
    RunSheet([&](HWND window, HWND) {
        HWND dtr = Page(window, "Auto Dtr/Dsr");
        EXPECT_EQ(Text(dtr, IDC_ON_LEVEL_EDIT), "30");
        EXPECT_EQ(Text(dtr, IDC_OFF_LEVEL_EDIT), "100");
        Slide(dtr, IDC_ON_LEVEL_BAR, 50);
        Shot(window, "page_dtr_dsr_16950");
        rtsOn = Text(Page(window, "Auto Rts/Cts"), IDC_ON_LEVEL_EDIT);
        Shot(window, "page_rts_cts_16950");
        HWND xon = Page(window, "Auto Xon/Xoff");
        xonLevel = Text(xon, IDC_XON_LEVEL_EDIT);
        EXPECT_FALSE(Enabled(xon, IDC_XON_RX_ENABLE));  // flow control is Hardware: not active
        Shot(window, "page_xon_xoff_16950");
        dtr = Page(window, "Auto Dtr/Dsr");
        Type(dtr, IDC_ON_LEVEL_EDIT, "120");  // above "off": the edited level gives way
        dtrOnAfterEdit = Text(dtr, IDC_ON_LEVEL_EDIT);
        Slide(dtr, IDC_OFF_LEVEL_BAR, 20);  // below "on": "on" goes along
        dtrOnAfterSlide = Text(dtr, IDC_ON_LEVEL_EDIT);
        Page(window, "Software");
        Shot(window, "page_software_16950");
        Page(window, "Advanced");
        Shot(window, "page_advanced_16950");
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(rtsOn, "50");
    EXPECT_EQ(xonLevel, "50");
    EXPECT_EQ(dtrOnAfterEdit, "100");
    EXPECT_EQ(dtrOnAfterSlide, "20");
    EXPECT_EQ(Stored16(portinfo::kDtrOnLevel), 20);
    EXPECT_EQ(Stored16(portinfo::kRtsOnLevel), 20);
    EXPECT_EQ(Stored16(portinfo::kDtrOffLevel), 20);
    EXPECT_EQ(Stored16(portinfo::kRtsOffLevel), 20);
    EXPECT_EQ(Stored16(portinfo::kFlowFlags), 0x0A);
    EXPECT_EQ(Stored16(portinfo::kXonLevel), 0);
}

TEST_F(Pages, XonXoffCharactersReadAnyBaseAndTheOtherLevelFollows)
{
    SetFunctionality(921600, k16950);
    SetProfile(L"9600,n,8,1,x");
    std::vector<uint8_t> image = PortInfo(k16950, 80, 128, 1, 0x60);  // transmit and receive
    Put16(image.data(), portinfo::kXonLevel, 40);
    Put16(image.data(), portinfo::kXoffLevel, 60);
    SetValue("PORTINFO", image);
    std::string xoff, shownCharacter;
    RunSheet([&](HWND window, HWND) {
        HWND page = Page(window, "Auto Xon/Xoff");
        EXPECT_EQ(Text(page, IDC_XON_TX_XON), "17");  // stored 0: DC1
        Type(page, IDC_XON_TX_XON, "0x13");
        Type(page, IDC_XON_TX_XOFF, "021");
        Type(page, IDC_XON_RX_XON, "0");  // ignored
        Type(page, IDC_XON_RX_XOFF, "300");
        shownCharacter = Text(page, IDC_XON_RX_XON);
        Slide(page, IDC_XON_LEVEL_BAR, 100);
        xoff = Text(page, IDC_XOFF_LEVEL_EDIT);
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(shownCharacter, "0");  // the typed text stays
    EXPECT_EQ(xoff, "100");
    const std::vector<uint8_t> stored = StoredPortInfo();
    ASSERT_EQ(stored.size(), kPortInfoBytes);
    EXPECT_EQ(stored[portinfo::kTransmitXon], 0x13);
    EXPECT_EQ(stored[portinfo::kTransmitXoff], 17);
    EXPECT_EQ(stored[portinfo::kReceiveXon], 17);
    EXPECT_EQ(stored[portinfo::kReceiveXoff], 44);
    EXPECT_EQ(Get16(stored.data(), portinfo::kXonLevel), 100);
    EXPECT_EQ(Get16(stored.data(), portinfo::kXoffLevel), 100);
    EXPECT_EQ(Get16(stored.data(), portinfo::kFlowFlags), 0x60);
}

TEST_F(Pages, On16650TheFixedLevelsFollowTheReceiveTrigger)
{
    SetFunctionality(921600, k16650);
    SetProfile(L"9600,n,8,1,p");
    SetValue("PORTINFO", PortInfo(k16650, 16, 32, 8, 0x02));  // RTS enabled
    bool onEnabled = true;
    RunSheet([&](HWND window, HWND) {
        Slide(Page(window, "Advanced"), IDC_RX_TRIGGER_BAR, 1);  // receive trigger 16
        HWND rts = Page(window, "Auto Rts/Cts");
        onEnabled = Enabled(rts, IDC_ON_LEVEL_EDIT);
        EXPECT_EQ(Text(rts, IDC_ON_LEVEL_EDIT), "8");
        EXPECT_EQ(Text(rts, IDC_OFF_LEVEL_EDIT), "24");
        Press(window, PSBTN_OK);
    });
    EXPECT_FALSE(onEnabled);
    EXPECT_EQ(Stored16(portinfo::kRtsOnLevel), 8);
    EXPECT_EQ(Stored16(portinfo::kRtsOffLevel), 24);
    EXPECT_EQ(Stored16(portinfo::kReceiveTrigger), 16);
}

TEST_F(Pages, On16750EnablingRtsAlsoEnablesCtsAndStoresRtsOnWithoutValue)
{
    SetFunctionality(921600, k16750);
    SetProfile(L"9600,n,8,1,p");
    SetValue("PORTINFO", PortInfo(k16750, 32, 64, 0));
    RunSheet([&](HWND window, HWND) {
        HWND rts = Page(window, "Auto Rts/Cts");
        SendDlgItemMessageW(rts, IDC_FLOW_FIRST, BM_SETCHECK, BST_CHECKED, 0);
        SendMessageW(rts, WM_COMMAND, MAKEWPARAM(IDC_FLOW_FIRST, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(rts, IDC_FLOW_FIRST)));
        EXPECT_EQ(SendDlgItemMessageW(rts, IDC_FLOW_SECOND, BM_GETCHECK, 0, 0), BST_CHECKED);
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(Stored16(portinfo::kFlowFlags), 0x03);
    EXPECT_EQ(Stored16(portinfo::kRtsOnLevel), 0xFFFF);
    EXPECT_EQ(Stored16(portinfo::kRtsOffLevel), 32);  // fixed: the receive trigger level
}

TEST_F(Pages, SoftwareDefaultsAndTheRightEndOfOverspeed)
{
    std::string factor, highest;
    bool fastRx = false;
    RunSheet([&](HWND window, HWND) {
        HWND page = Page(window, "Software");
        factor = Text(page, IDC_OVERSPEED_EDIT);
        highest = Text(page, IDC_OVERSPEED_HIGH);
        fastRx = SendDlgItemMessageW(page, IDC_FAST_RX, BM_GETCHECK, 0, 0) == BST_CHECKED;
        Shot(window, "page_software_16550");
        Slide(page, IDC_OVERSPEED_BAR, 255);
        EXPECT_EQ(Text(page, IDC_OVERSPEED_EDIT), "32.000");
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(factor, "1.000");
    EXPECT_EQ(highest, "32.000");
    EXPECT_TRUE(fastRx);
    EXPECT_EQ(Value("Overspeed"), std::vector<uint8_t>{0});
}

// After Apply the sheet stays open; what is changed then and confirmed with OK is written too,
// once per round.
TEST_F(Pages, AChangeAfterApplyIsWrittenByOk)
{
    RunSheet([&](HWND window, HWND) {
        Press(window, PSBTN_APPLYNOW);
        EXPECT_TRUE(guiauto::WaitUntil([] { return ProviderCalls::registryWrites == 4; }, 5000));
        guiauto::Flush(window);
        HWND page = Page(window, "Software");
        SendDlgItemMessageW(page, IDC_FAST_RX, BM_SETCHECK, BST_UNCHECKED, 0);
        SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_FAST_RX, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_FAST_RX)));
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(ProviderCalls::registryWrites, 8);
    EXPECT_EQ(ProviderCalls::profileWrites, 2);
    EXPECT_EQ(Value("UseFastRx"), (std::vector<uint8_t>{0, 0, 0, 0}));
}

// A level whose text is out of range when the sheet applies (typed, not yet left) keeps the
// trackbar's position.
TEST_F(Pages, TextThatDoesNotParseAtApplyStoresTheTrackbarPosition)
{
    SetFunctionality(921600, k16950);
    SetValue("PORTINFO", PortInfo(k16950, 80, 100, 1));
    RunSheet([&](HWND window, HWND) {
        HWND page = Page(window, "Advanced");
        SetDlgItemTextA(page, IDC_TX_BUFFER_EDIT, "999");
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(Stored16(portinfo::kTransmitBuffer), 100);
    EXPECT_EQ(Stored16(portinfo::kReceiveTrigger), 80);
}

TEST_F(Pages, MoreHardwareSettingsAfterTheWarningEditTheClockOptions)
{
    SetFunctionality(921600, k16950);
    SetValue("PORTINFO", PortInfo(k16950, 80, 128, 1));
    SetValue("EnableCks", {0});
    SetValue("CKS", {0x42});
    guiauto::MessageBoxCatcher warnings("PORT MORE", IDNO);
    bool optionsEnabledAtFirst = true;
    std::vector<std::string> sources;
    RunSheet([&](HWND window, HWND) {
        HWND page = Page(window, "Advanced");
        EXPECT_TRUE(Enabled(page, IDC_MORE));
        guiauto::Click(page, IDC_MORE);  // No: nothing opens
        EXPECT_TRUE(guiauto::WaitUntil([&] { return warnings.Boxes().size() == 1; }, 5000));
        guiauto::Flush(page);
        EXPECT_TRUE(guiauto::ProcessWindows("#32770", "More Hardware Settings").empty());
        warnings.SetAnswer(IDYES);
        guiauto::Click(page, IDC_MORE);
        HWND more = guiauto::WaitForWindow("#32770", "More Hardware Settings", 5000);
        ASSERT_NE(more, nullptr);
        guiauto::Flush(more);
        optionsEnabledAtFirst = Enabled(more, IDC_RX_SOURCE);
        sources = Items(more, IDC_RX_SOURCE);
        EXPECT_EQ(SendDlgItemMessageW(more, IDC_RX_SOURCE, CB_GETCURSEL, 0, 0), 2);
        EXPECT_EQ(SendDlgItemMessageW(more, IDC_RI_CLOCK, BM_GETCHECK, 0, 0), BST_CHECKED);
        SendDlgItemMessageW(more, IDC_ENABLE_CKS, BM_SETCHECK, BST_CHECKED, 0);
        SendMessageW(more, WM_COMMAND, MAKEWPARAM(IDC_ENABLE_CKS, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(more, IDC_ENABLE_CKS)));
        EXPECT_TRUE(Enabled(more, IDC_DTR_PIN));
        SendDlgItemMessageW(more, IDC_DTR_PIN, CB_SETCURSEL, 2, 0);
        guiauto::WaitUntilPainted(more);
        guiauto::SaveScreenshot(more, guiauto::ScreenshotDir() + "\\more_hardware_settings.png");
        guiauto::Click(more, IDOK);
        EXPECT_TRUE(guiauto::WaitUntil([&] { return !IsWindow(more); }, 5000));
        Press(window, PSBTN_OK);
    });
    EXPECT_FALSE(optionsEnabledAtFirst);
    EXPECT_EQ(sources, (std::vector<std::string>{"normal", "DSR#", "BDOUT#", "TxClk"}));
    ASSERT_FALSE(warnings.Boxes().empty());
    EXPECT_EQ(warnings.Boxes()[0].icon, guiauto::BoxIcon::Warning);
    EXPECT_EQ(warnings.Boxes()[0].text.rfind("This settings can have serious impact", 0), 0u);
    EXPECT_EQ(Value("EnableCks"), std::vector<uint8_t>{1});
    EXPECT_EQ(Value("CKS"), std::vector<uint8_t>{0x62});  // Nx on DTR# added
}

// The Auto pages store what they would show, whether or not their tabs were opened: with flow
// control "None", stored or chosen now, they are switched off and keep no flow flag.
TEST_F(Pages, WithoutFlowControlTheAutoPagesStoreNoFlagsOpenedOrNot)
{
    SetFunctionality(921600, k16950);
    for (const bool chooseNone : {false, true}) {
        SetProfile(chooseNone ? L"9600,n,8,1,p" : L"9600,n,8,1");
        SetValue("PORTINFO", PortInfo(k16950, 80, 128, 1, 0x7F));
        sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
        ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
        bool rtsUsable = false, rtsUsableAfter = false;
        RunSheet([&](HWND window, HWND settings) {
            if (chooseNone) {
                HWND rts = Page(window, "Auto Rts/Cts");
                rtsUsable = Enabled(rts, IDC_FLOW_FIRST);
                Choose(settings, IDC_FLOW_CONTROL, 0);
                rtsUsableAfter = Enabled(rts, IDC_FLOW_FIRST);
            }
            Press(window, PSBTN_OK);
        });
        EXPECT_EQ(Stored16(portinfo::kFlowFlags), 0) << (chooseNone ? "None chosen" : "None stored");
        EXPECT_EQ(rtsUsable, chooseNone) << "Hardware stored: the page was usable before None was chosen";
        EXPECT_FALSE(rtsUsableAfter);
    }
}

// After a change of UART type the levels of a page that was off are those of the new type:
// not the transmit buffer position the 16650 kept in the slot the 16950 uses for "on" levels.
TEST_F(Pages, AfterAUartChangeAnAutoPageSwitchedOnStoresLevelsOfTheNewType)
{
    SetFunctionality(921600, k16950);
    SetProfile(L"9600,n,8,1");
    SetValue("PORTINFO", PortInfo(k16650, 16, 32, 8));
    RunSheet([&](HWND window, HWND settings) {
        Choose(Page(window, "Advanced"), IDC_UART_TYPE, 6);  // UART 16950
        Choose(settings, IDC_FLOW_CONTROL, 1);                // Hardware
        Toggle(Page(window, "Auto Rts/Cts"), IDC_FLOW_FIRST);
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(Stored16(portinfo::kUartWord), k16950);
    EXPECT_EQ(Stored16(portinfo::kFlowFlags), 0x02);
    EXPECT_EQ(Stored16(portinfo::kRtsOnLevel), 0);
    EXPECT_EQ(Stored16(portinfo::kRtsOffLevel), 0);
}

// Memory access is offered by Functionality bit 0 and kept in bit 11 of the UART word; "More >>"
// needs a stored EnableCks besides a 16950.
TEST_F(Pages, MemoryAccessIsStoredInBit11AndMoreNeedsEnableCks)
{
    SetFunctionality(921600, k16950, 1);
    SetValue("PORTINFO", PortInfo(k16950, 80, 128, 1));
    bool offered = false, checked = true, more = true;
    RunSheet([&](HWND window, HWND) {
        HWND page = Page(window, "Advanced");
        offered = Enabled(page, IDC_MEMORY_ACCESS);
        checked = IsDlgButtonChecked(page, IDC_MEMORY_ACCESS) == BST_CHECKED;
        more = Enabled(page, IDC_MORE);
        Toggle(page, IDC_MEMORY_ACCESS);
        Press(window, PSBTN_OK);
    });
    EXPECT_TRUE(offered);
    EXPECT_FALSE(checked);
    EXPECT_FALSE(more);
    EXPECT_EQ(Stored16(portinfo::kUartWord), 0x800 | k16950);
    EXPECT_TRUE(Value("EnableCks").empty());
}

// EnableCks as the user leaves it in the More Hardware Settings dialog: switched off and
// confirmed it is stored as 0; Cancel puts back what it was.
TEST_F(Pages, MoreHardwareSettingsStoresEnableCksAsLeftAndCancelKeepsIt)
{
    SetFunctionality(921600, k16950);
    guiauto::MessageBoxCatcher warnings("PORT MORE", IDYES);
    for (const int button : {IDOK, IDCANCEL}) {
        SetValue("PORTINFO", PortInfo(k16950, 80, 128, 1));
        SetValue("EnableCks", {1});
        sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
        ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
        RunSheet([&](HWND window, HWND) {
            HWND page = Page(window, "Advanced");
            guiauto::Click(page, IDC_MORE);
            HWND dialog = guiauto::WaitForWindow("#32770", "More Hardware Settings", 5000);
            ASSERT_NE(dialog, nullptr);
            guiauto::Flush(dialog);
            Toggle(dialog, IDC_ENABLE_CKS);
            guiauto::Click(dialog, button);
            EXPECT_TRUE(guiauto::WaitUntil([&] { return !IsWindow(dialog); }, 5000));
            Press(window, PSBTN_OK);
        });
        EXPECT_EQ(Value("EnableCks"), std::vector<uint8_t>{button == IDOK ? uint8_t{0} : uint8_t{1}})
            << (button == IDOK ? "OK" : "Cancel");
    }
}

}  // namespace
