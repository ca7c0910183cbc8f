// Plays the property sheet's side for a page provider: loads the provider library, asks its
// EnumPropPages for pages (at most 10, as the configuration tool takes them) and shows them in a
// real, modal property sheet.
#pragma once

#include <windows.h>
#include <prsht.h>

#include <set>
#include <string>
#include <vector>

#include "pages/page_request.h"

namespace sheethost {

class Sheet {
public:
    explicit Sheet(const std::string& providerPath);
    ~Sheet();  // frees the provider library
    Sheet(const Sheet&) = delete;
    Sheet& operator=(const Sheet&) = delete;

    bool Loaded() const { return enumPages_ != nullptr; }

    // Offers the request to the provider; keyPath is passed as given (8-bit or UTF-16 text).
    // refuse: indexes (in offering order) of pages the host turns down. Returns EnumPropPages'
    // result.
    BOOL AddPages(const void* keyPath, const std::set<int>& refuse = {});

    // Shows the sheet modally; returns what PropertySheet returned.
    INT_PTR Show(HWND owner, const wchar_t* caption);

    int Offered() const { return offered_; }
    const std::vector<HPROPSHEETPAGE>& Pages() const { return pages_; }
    uint32_t Result() const { return request_.result; }

private:
    static BOOL CALLBACK AddPage(HPROPSHEETPAGE page, LPARAM host);

    HMODULE library_ = nullptr;
    BOOL(WINAPI* enumPages_)(PageRequest*, LPFNADDPROPSHEETPAGE, LPARAM) = nullptr;
    PageRequest request_ = {};
    std::vector<HPROPSHEETPAGE> pages_;
    std::set<int> refuse_;
    int offered_ = 0;
};

}  // namespace sheethost
