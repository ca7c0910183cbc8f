// A device's page provider for tests of the sheet host: offers as many blank pages as the device
// key's DWORD "StandInPages" says (1 when missing), stores how many the host took in
// "StandInAccepted" and sets the request's result word to "StandInResult" (0 when missing).
#include <windows.h>
#include <prsht.h>

#include <cstdio>

#include "pages/page_request.h"

namespace {

HINSTANCE module;

DWORD ReadDword(HKEY key, const char* name, DWORD fallback)
{
    DWORD value = 0, bytes = sizeof value, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

INT_PTR CALLBACK BlankPage(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) module = instance;
    return TRUE;
}

extern "C" BOOL WINAPI EnumPropPages(PageRequest* request, LPFNADDPROPSHEETPAGE addPage, LPARAM host)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, request->keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return FALSE;
    const DWORD offered = ReadDword(key, "StandInPages", 1);
    static char titles[16][24];
    DWORD accepted = 0;
    for (DWORD index = 0; index < offered && index < 16; ++index) {
        std::snprintf(titles[index], sizeof titles[index], "Stand-in %lu", index + 1);
        PROPSHEETPAGEA page = {};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_USETITLE;
        page.hInstance = module;
        page.pszTemplate = MAKEINTRESOURCEA(1);
        page.pfnDlgProc = BlankPage;
        page.pszTitle = titles[index];
        HPROPSHEETPAGE handle = CreatePropertySheetPageA(&page);
        if (!handle) continue;
        if (addPage(handle, host))
            ++accepted;
        else
            DestroyPropertySheetPage(handle);
    }
    request->result = ReadDword(key, "StandInResult", 0);
    RegCloseKey(key);
    // Only where the key is writable before the host grants access.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, request->keyPath, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegSetValueExA(key, "StandInAccepted", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&accepted), sizeof accepted);
        RegCloseKey(key);
    }
    return TRUE;
}
