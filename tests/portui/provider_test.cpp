// The page provider loaded as a host loads it, with its sheet shown and driven under Xvfb.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cardsim.h"
#include "guiauto.h"
#include "import_hook.h"
#include "key_security.h"
#include "port_records.h"
#include "sheet_host.h"

namespace {

// Calls of the provider library, counted (and failed on request) through its import table.
struct ProviderCalls {
    static inline int registryWrites, profileWrites;
    static inline std::wstring failWriteOf;
    static inline int allocations, doubleFrees;
    static inline std::map<void*, int> live;  // blocks from calloc not freed yet
    static inline decltype(&RegSetValueExW) setValue;
    static inline decltype(&WriteProfileStringW) writeProfile;
    static inline void* (*calloc_)(size_t, size_t);
    static inline void (*free_)(void*);

    static LONG WINAPI SetValue(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
    {
        ++registryWrites;
        if (name && failWriteOf == name) return ERROR_ACCESS_DENIED;
        return setValue(key, name, reserved, type, data, size);
    }
    static BOOL WINAPI WriteProfile(LPCWSTR section, LPCWSTR key, LPCWSTR text)
    {
        ++profileWrites;
        return writeProfile(section, key, text);
    }
    static void* Calloc(size_t count, size_t size)
    {
        void* block = calloc_(count, size);
        ++allocations;
        ++live[block];
        return block;
    }
    static void Free(void* block)
    {
        auto it = live.find(block);
        if (it != live.end()) {
            if (it->second == 0) ++doubleFrees;
            else --it->second;
        }
        free_(block);
    }
    static int Outstanding()
    {
        int count = 0;
        for (const auto& entry : live) count += entry.second;
        return count;
    }
    template <class Function>
    static void Hook(HMODULE provider, const char* dll, const char* name, Function replacement, Function& original)
    {
        void* old = HookImport(provider, dll, name, reinterpret_cast<void*>(replacement));
        if (old && old != reinterpret_cast<void*>(replacement)) original = reinterpret_cast<Function>(old);
    }
    static void Install(HMODULE provider)
    {
        registryWrites = profileWrites = 0;
        failWriteOf.clear();
        allocations = doubleFrees = 0;
        live.clear();
        Hook(provider, "advapi32.dll", "RegSetValueExW", &SetValue, setValue);
        Hook(provider, "kernel32.dll", "WriteProfileStringW", &WriteProfile, writeProfile);
        Hook(provider, "msvcrt.dll", "calloc", &Calloc, calloc_);
        Hook(provider, "msvcrt.dll", "free", &Free, free_);
    }
    // Every block the provider allocated was freed exactly once.
    static bool AllFreedOnce() { return allocations > 0 && doubleFrees == 0 && Outstanding() == 0; }
};

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class Provider : public testing::Test {
protected:
    void SetUp() override
    {
        cardsim::RemoveAll();
        cardsim::Layout layout;
        layout.cards = 1;
        layout.serialPerCard = 1;
        layout.parallelPerCard = 0;
        installation = cardsim::BuildInstallation(layout);
        ASSERT_EQ(cardsim::Write(installation), ERROR_SUCCESS);
        portPath = cardsim::PortPath(installation.cards[0], installation.cards[0].ports[0]);
        SetProfile(nullptr);
        sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
        ASSERT_TRUE(sheet->Loaded());
        ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
    }
    void TearDown() override
    {
        sheet.reset();
        SetProfile(nullptr);
        cardsim::RemoveAll();
    }

    static void SetProfile(const wchar_t* text) { WriteProfileStringW(L"Ports", L"COM3:", text); }
    static std::wstring Profile()
    {
        wchar_t text[128] = {};
        GetProfileStringW(L"Ports", L"COM3:", L"<none>", text, 128);
        return text;
    }
    void SetValue(const char* name, const std::vector<uint8_t>& data)
    {
        ASSERT_EQ(cardsim::SetBinary(HKEY_LOCAL_MACHINE, portPath, name, data), ERROR_SUCCESS);
    }
    std::vector<uint8_t> Value(const char* name)
    {
        std::vector<uint8_t> data(64);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegGetValueA(HKEY_LOCAL_MACHINE, portPath.c_str(), name, RRF_RT_ANY, nullptr, data.data(), &size) !=
            ERROR_SUCCESS)
            return {};
        data.resize(size);
        return data;
    }
    void SetFunctionality(uint32_t maxBaud, uint16_t highestUart, uint16_t flags = 0)
    {
        std::vector<uint8_t> image(kFunctionalityBytes);
        Put16(image.data(), functionality::kVersion, 1);
        Put32(image.data(), functionality::kMaxBaud, maxBaud);
        Put16(image.data(), functionality::kHighestUart, highestUart);
        Put16(image.data(), functionality::kFlags, flags);
        SetValue("Functionality", image);
    }

    // Shows the sheet on this thread; drive(page) runs on a second thread with the Settings page
    // and ends the sheet itself (OK or Cancel).
    void RunSheet(const std::function<void(HWND sheetWindow, HWND page)>& drive)
    {
        ASSERT_TRUE(sheet->AddPages(portPath.c_str()));
        guiauto::Watchdog watchdog(60000);
        std::thread driver([&] {
            HWND window = guiauto::WaitForWindow("#32770", "Port properties", 20000);
            ASSERT_NE(window, nullptr) << "the sheet did not open";
            auto page = reinterpret_cast<HWND>(SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0));
            drive(window, page);
            // The sheet ends on the button drive() pressed; it must have been taken.
            EXPECT_TRUE(guiauto::WaitUntil([&] { return !IsWindowVisible(window); }, 20000)) << "the sheet stayed open";
        });
        sheet->Show(nullptr, L"Port properties");
        driver.join();
        EXPECT_FALSE(watchdog.fired());
    }
    static void Press(HWND sheetWindow, int button)
    {
        PostMessageW(sheetWindow, PSM_PRESSBUTTON, button, 0);
    }
    static std::string Selected(HWND page, int list)
    {
        const LRESULT index = SendDlgItemMessageA(page, list, CB_GETCURSEL, 0, 0);
        if (index < 0) return "<none>";
        char text[64] = {};
        SendDlgItemMessageA(page, list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }
    static std::vector<std::string> Tabs(HWND sheetWindow)
    {
        HWND tabs = reinterpret_cast<HWND>(SendMessageW(sheetWindow, PSM_GETTABCONTROL, 0, 0));
        std::vector<std::string> titles;
        for (int i = 0; i < TabCtrl_GetItemCount(tabs); ++i) {
            char text[64] = {};
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
            titles.push_back(text);
        }
        return titles;
    }

    cardsim::Installation installation;
    std::string portPath;
    std::unique_ptr<sheethost::Sheet> sheet;
};

TEST_F(Provider, SettingsPageShowsTheStoredLineFormatAndOkWritesEverythingOnce)
{
    SetProfile(L"115200,e,7,1.5,x");
    SetFunctionality(921600, 7);
    RunSheet([&](HWND window, HWND page) {
        EXPECT_EQ(Tabs(window), std::vector<std::string>{"Settings"});
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

TEST_F(Provider, ClockOptionsAreWrittenOnlyWhenEnableCksWasThere)
{
    SetValue("EnableCks", {5});
    SetValue("CKS", {0x42});
    RunSheet([&](HWND window, HWND) { Press(window, PSBTN_OK); });
    EXPECT_EQ(Value("EnableCks"), std::vector<uint8_t>{1});
    EXPECT_EQ(Value("CKS"), std::vector<uint8_t>{0x42});
    EXPECT_EQ(ProviderCalls::registryWrites, 6);
}

TEST_F(Provider, KeyPathMayBeUtf16AndOneNarrowCharacterIsReadAsUtf16)
{
    const std::wstring wide = Widen(portPath);
    EXPECT_TRUE(sheet->AddPages(wide.c_str()));
    sheet = std::make_unique<sheethost::Sheet>(KTS2KUI_PATH);
    ProviderCalls::Install(GetModuleHandleA("KTS2KUI.dll"));
    EXPECT_FALSE(sheet->AddPages("A"));
    EXPECT_FALSE(sheet->AddPages(L"B"));
    EXPECT_FALSE(sheet->AddPages(""));
    EXPECT_FALSE(sheet->AddPages("SYSTEM\\NoSuchKey"));
    EXPECT_TRUE(ProviderCalls::AllFreedOnce());
}

TEST_F(Provider, ContextLivesUntilTheSheetIsGoneAndWhenTheHostRefusesEverything)
{
    EXPECT_FALSE(sheet->AddPages(portPath.c_str(), {0}));
    EXPECT_EQ(sheet->Offered(), 1);
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
    RunSheet([&](HWND window, HWND) { Press(window, PSBTN_OK); });
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"An error occured while writing data, Code 4"});
    EXPECT_EQ(boxes.Boxes()[0].icon, guiauto::BoxIcon::Error);
    EXPECT_EQ(Profile(), L"9600,n,8,1");
    EXPECT_EQ(Value("PORTINFO").size(), kPortInfoBytes);
    EXPECT_TRUE(Value("COMPINFO").empty());

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
