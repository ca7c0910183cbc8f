// The page provider's entry, the Settings page, loading and storing.
#include "provider_fixture.h"

namespace {

TEST_F(Provider, SettingsPageShowsTheStoredLineFormatAndOkWritesEverythingOnce)
{
    SetProfile(L"115200,e,7,1.5,x");
    SetFunctionality(921600, 7);
    RunSheet([&](HWND window, HWND page) {
        EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Settings", "Advanced", "Software", "Auto Xon/Xoff",
                                                          "Auto Dtr/Dsr", "Auto Rts/Cts"}));
        EXPECT_EQ(Selected(page, 1001), "115200");
        EXPECT_EQ(Selected(page, 1002), "7");
        EXPECT_EQ(Selected(page, 1003), "Even");
        EXPECT_EQ(Selected(page, 1004), "1.5");
        EXPECT_EQ(Selected(page, 1005), "Xon / Xoff");
        EXPECT_EQ(SendDlgItemMessageA(page, 1001, CB_GETCOUNT, 0, 0), 22);
        guiauto::WaitUntilPainted(window);
        guiauto::SaveScreenshot(window, guiauto::ScreenshotDir() + "\\port_settings_page.png");
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(sheet->Result(), 0u);
    EXPECT_EQ(Profile(), L"115200,e,7,1.5,x");
    EXPECT_EQ(ProviderCalls::profileWrites, 1);
    EXPECT_EQ(ProviderCalls::registryWrites, 4);  // PORTINFO, Overspeed, COMPINFO, UseFastRx
    EXPECT_EQ(Value("Overspeed"), std::vector<uint8_t>{8});
    EXPECT_EQ(Value("UseFastRx"), (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(Value("COMPINFO").size(), kCompInfoBytes);
    EXPECT_TRUE(Value("EnableCks").empty());
    EXPECT_TRUE(Value("CKS").empty());
    EXPECT_TRUE(ProviderCalls::AllFreedOnce());
}

TEST_F(Provider, WithoutFunctionalityRatesStopAt115200AndAFasterStoredRateIsShownAsText)
{
    SetProfile(L"921600,n,8,1");
    RunSheet([&](HWND window, HWND page) {
        EXPECT_EQ(SendDlgItemMessageA(page, 1001, CB_GETCOUNT, 0, 0), 18);
        EXPECT_EQ(Selected(page, 1001), "<none>");
        EXPECT_EQ(guiauto::WindowText(GetDlgItem(page, 1001)), "921600");
        for (const std::string& title : Tabs(window)) EXPECT_NE(title.rfind("Auto", 0), 0u) << title;
        Press(window, PSBTN_CANCEL);
    });
    EXPECT_EQ(ProviderCalls::profileWrites + ProviderCalls::registryWrites, 0);
    EXPECT_EQ(Profile(), L"921600,n,8,1");
}

TEST_F(Provider, TypedRateIsStoredAsItsLeadingNumber)
{
    RunSheet([&](HWND window, HWND page) {
        SendDlgItemMessageW(page, 1001, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"134.5"));
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(Profile(), L"134,n,8,1");
    sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
    RunSheet([&](HWND window, HWND page) {
        EXPECT_EQ(Selected(page, 1001), "134.5");
        SendDlgItemMessageW(page, 1001, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"fast"));
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(Profile(), L"0,n,8,1");
}

TEST_F(Provider, RestoreDefaultsChoosesXonXoff)
{
    SetProfile(L"300,o,5,2,p");
    RunSheet([&](HWND window, HWND page) {
        guiauto::Click(page, 1006);
        EXPECT_TRUE(guiauto::Flush(page));
        EXPECT_EQ(Selected(page, 1001), "9600");
        EXPECT_EQ(Selected(page, 1002), "8");
        EXPECT_EQ(Selected(page, 1003), "None");
        EXPECT_EQ(Selected(page, 1004), "1");
        EXPECT_EQ(Selected(page, 1005), "Xon / Xoff");
        Press(window, PSBTN_OK);
    });
    EXPECT_EQ(Profile(), L"9600,n,8,1,x");
}

TEST_F(Provider, PortInfoAboveTheHighestTypeIsStoredAsThatTypesDefaults)
{
    std::vector<uint8_t> portInfo(kPortInfoBytes, 0x33);
    Put16(portInfo.data(), portinfo::kVersion, 1);
    portInfo[portinfo::kUartWord] = 7;
    SetValue("PORTINFO", portInfo);
    RunSheet([&](HWND window, HWND) { Press(window, PSBTN_OK); });
    std::vector<uint8_t> stored = Value("PORTINFO");
    ASSERT_EQ(stored.size(), kPortInfoBytes);
    EXPECT_EQ(Get16(stored.data(), portinfo::kVersion), 1);
    EXPECT_EQ(Get16(stored.data(), portinfo::kUartWord), 3);
    EXPECT_EQ(Get16(stored.data(), portinfo::kReceiveTrigger), 8);
    EXPECT_EQ(Get16(stored.data(), portinfo::kTransmitBuffer), 16);
    EXPECT_EQ(stored[portinfo::kReceiveXoff], 0);
}

// Defaults by rule: an empty value, or one larger than its record, is missing.
TEST_F(Provider, EmptyOrOversizedValuesCountAsMissing)
{
    std::vector<uint8_t> tooLong(kPortInfoBytes + 1, 0);
    Put16(tooLong.data(), portinfo::kVersion, 1);
    tooLong[portinfo::kUartWord] = 2;
    SetValue("PORTINFO", tooLong);
    SetValue("Overspeed", {});
    SetValue("EnableCks", {});
    SetValue("UseFastRx", {});
    RunSheet([&](HWND window, HWND) { Press(window, PSBTN_OK); });
    const std::vector<uint8_t> stored = Value("PORTINFO");
    ASSERT_EQ(stored.size(), kPortInfoBytes);
    EXPECT_EQ(Get16(stored.data(), portinfo::kUartWord), 3);  // the defaults of the highest type
    EXPECT_EQ(Get16(stored.data(), portinfo::kReceiveTrigger), 8);
    EXPECT_EQ(Value("Overspeed"), std::vector<uint8_t>{8});
    EXPECT_EQ(Value("UseFastRx"), (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_TRUE(Value("EnableCks").empty());  // written only when it was there

    SetValue("PortName", {});  // no name, no profile entry: no pages
    sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
    EXPECT_FALSE(sheet->AddPages(portPath.c_str()));
}

TEST_F(Provider, ClockOptionsAreWrittenOnlyWhenEnableCksWasThere)
{
    SetValue("EnableCks", {5});
    SetValue("CKS", {0x42});
    RunSheet([&](HWND window, HWND) { Press(window, PSBTN_OK); });
    EXPECT_EQ(Value("EnableCks"), std::vector<uint8_t>{1});
    EXPECT_EQ(Value("CKS"), std::vector<uint8_t>{0x42});
    EXPECT_EQ(ProviderCalls::registryWrites, 6);
}

// A path of one 8-bit character is read as UTF-16 and needs two characters that way. A key
// "B" right below HKEY_LOCAL_MACHINE is a port key here, so a wrong length rule would open it.
TEST_F(Provider, KeyPathMayBeUtf16AndOneCharacterIsNoPathWhateverFollowsIt)
{
    const std::string oneLetterKey = "B";
    ASSERT_EQ(cardsim::WriteDevice(oneLetterKey, installation.cards[0].ports[0].values), ERROR_SUCCESS);

    const std::wstring wide = Widen(portPath);
    EXPECT_TRUE(sheet->AddPages(wide.c_str()));
    sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
    ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
    EXPECT_FALSE(sheet->AddPages(L"B"));
    EXPECT_FALSE(sheet->AddPages("B"));
    // "B" as the last bytes before memory that cannot be read: nothing beyond may be touched.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto* memory = static_cast<char*>(VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(memory, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(memory + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    char* narrow = memory + system.dwPageSize - 2;
    narrow[0] = 'B';
    narrow[1] = 0;
    EXPECT_FALSE(sheet->AddPages(narrow));
    VirtualFree(memory, 0, MEM_RELEASE);
    EXPECT_FALSE(sheet->AddPages(""));
    EXPECT_FALSE(sheet->AddPages("SYSTEM\\NoSuchKey"));
    EXPECT_TRUE(ProviderCalls::AllFreedOnce());
    cardsim::DeleteTree(HKEY_LOCAL_MACHINE, oneLetterKey.c_str());
}

// No C++ exception leaves the library: without memory for its texts it adds no page.
TEST_F(Provider, NoMemoryForTheLineFormatMeansNoPages)
{
    ProviderCalls::failMallocs = 1;
    EXPECT_FALSE(sheet->AddPages(portPath.c_str()));
    EXPECT_EQ(ProviderCalls::failMallocs, 0);
    EXPECT_EQ(sheet->Offered(), 0);
    // The first exception may leave the runtime's own blocks behind; a second one leaves nothing.
    const int outstanding = ProviderCalls::Outstanding();
    sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
    ProviderCalls::failMallocs = 1;
    EXPECT_FALSE(sheet->AddPages(portPath.c_str()));
    EXPECT_EQ(ProviderCalls::Outstanding(), outstanding);
    EXPECT_EQ(ProviderCalls::doubleFrees, 0);
}

using CreatePageFunction = HPROPSHEETPAGE(WINAPI*)(LPCPROPSHEETPAGEW);
CreatePageFunction realCreatePage;
std::vector<DWORD> pageSizes;

HPROPSHEETPAGE WINAPI CreatePageNotingItsSize(LPCPROPSHEETPAGEW page)
{
    pageSizes.push_back(page->dwSize);
    return realCreatePage(page);
}

// comctl32 4.00, NT 4.0's own, creates a page from a structure of the first size only.
TEST_F(Provider, PagesAreDescribedInTheFirstStructureSize)
{
    pageSizes.clear();
    ProviderCalls::Hook(GetModuleHandleA("KTS2KUI.dll"), "comctl32.dll", "CreatePropertySheetPageW",
                        &CreatePageNotingItsSize, realCreatePage);
    ASSERT_NE(realCreatePage, nullptr);
    EXPECT_TRUE(sheet->AddPages(portPath.c_str()));
    EXPECT_EQ(pageSizes, std::vector<DWORD>(sheet->Offered(), PROPSHEETPAGEW_V1_SIZE));
}

TEST_F(Provider, ContextLivesUntilTheSheetIsGoneAndWhenTheHostRefusesEverything)
{
    EXPECT_FALSE(sheet->AddPages(portPath.c_str(), {0, 1, 2}));
    EXPECT_EQ(sheet->Offered(), 3);
    EXPECT_TRUE(ProviderCalls::AllFreedOnce());

    ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
    RunSheet([&](HWND window, HWND) {
        EXPECT_EQ(ProviderCalls::Outstanding(), 2);  // context and key path: the pages still use them
        Press(window, PSBTN_CANCEL);
    });
    EXPECT_TRUE(ProviderCalls::AllFreedOnce());
}

TEST_F(Provider, RefusedWriteReportsTheFirstFailingStepAndKeepsWhatWasWritten)
{
    guiauto::MessageBoxCatcher boxes("Qarix Serial Port Settings");
    ProviderCalls::failWriteOf = L"Overspeed";
    bool compInfoAfterFailure = true;
    RunSheet([&](HWND window, HWND) {
        Press(window, PSBTN_APPLYNOW);
        EXPECT_TRUE(guiauto::WaitUntil([&] { return boxes.Boxes().size() == 1; }, 5000));
        guiauto::Flush(window);
        compInfoAfterFailure = !Value("COMPINFO").empty();
        // The next Apply (here OK) tries again.
        ProviderCalls::failWriteOf.clear();
        Press(window, PSBTN_OK);
    });
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"An error occured while writing data, Code 4"});
    EXPECT_EQ(boxes.Boxes()[0].icon, guiauto::BoxIcon::Error);
    EXPECT_EQ(Profile(), L"9600,n,8,1");
    EXPECT_EQ(Value("PORTINFO").size(), kPortInfoBytes);
    EXPECT_FALSE(compInfoAfterFailure);
    EXPECT_EQ(Value("COMPINFO").size(), kPortInfoBytes) << "written by the Apply after the failure";

    // A key that may no longer be written by the time the sheet applies: nothing is written.
    boxes.Clear();
    SetProfile(nullptr);
    sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
    ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
    RunSheet([&](HWND window, HWND) {
        cardsim::SetDacl(HKEY_LOCAL_MACHINE, portPath, "D:(A;;KR;;;BA)(A;;KA;;;SY)");
        Press(window, PSBTN_OK);
    });
    cardsim::SetDacl(HKEY_LOCAL_MACHINE, portPath, "D:NO_ACCESS_CONTROL");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"An error occured while writing data, Code 1"});
    EXPECT_EQ(Profile(), L"<none>");
}

}  // namespace
