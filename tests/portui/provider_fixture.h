// The page provider loaded as a host loads it: its sheet shown on the test's thread and driven
// from a second one under Xvfb, its library calls counted (and failed on request).
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
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
    static inline void* (*malloc_)(size_t);
    static inline int failMallocs;  // so many next allocations of the library's containers fail

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
    static void* Malloc(size_t size)
    {
        if (failMallocs > 0) {
            --failMallocs;
            return nullptr;
        }
        // A freed calloc block may come back from malloc: its next free is no double free.
        void* block = malloc_(size);
        auto it = live.find(block);
        if (it != live.end() && it->second == 0) live.erase(it);
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
        failMallocs = 0;
        Hook(provider, "msvcrt.dll", "malloc", &Malloc, malloc_);
    }
    // Every block the provider allocated was freed exactly once.
    static bool AllFreedOnce() { return allocations > 0 && doubleFrees == 0 && Outstanding() == 0; }
};

inline std::wstring Widen(const std::string& text)
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
    static std::vector<std::string> Tabs(HWND sheetWindow) { return guiauto::SheetTabTitles(sheetWindow); }

    cardsim::Installation installation;
    std::string portPath;
    std::unique_ptr<sheethost::Sheet> sheet;
};

