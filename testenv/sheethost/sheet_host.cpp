#include "sheet_host.h"

#include <commctrl.h>

namespace sheethost {

namespace {
constexpr size_t kMaxPages = 10;
}

Sheet::Sheet(const std::string& providerPath)
{
    library_ = LoadLibraryA(providerPath.c_str());
    if (library_)
        enumPages_ = reinterpret_cast<decltype(enumPages_)>(GetProcAddress(library_, "EnumPropPages"));
}

Sheet::~Sheet()
{
    // Pages that were added but never shown are the host's to destroy, before their code goes.
    for (HPROPSHEETPAGE page : pages_) DestroyPropertySheetPage(page);
    if (library_) FreeLibrary(library_);
}

BOOL Sheet::AddPages(const void* keyPath, const std::set<int>& refuse)
{
    if (!enumPages_) return FALSE;
    refuse_ = refuse;
    request_.keyPath = static_cast<const char*>(keyPath);
    request_.result = 0xFFFFFFFF;
    return enumPages_(&request_, AddPage, reinterpret_cast<LPARAM>(this));
}

BOOL CALLBACK Sheet::AddPage(HPROPSHEETPAGE page, LPARAM host)
{
    auto* self = reinterpret_cast<Sheet*>(host);
    const int index = self->offered_++;
    if (self->pages_.size() >= kMaxPages || self->refuse_.count(index)) return FALSE;
    self->pages_.push_back(page);
    return TRUE;
}

INT_PTR Sheet::Show(HWND owner, const wchar_t* caption)
{
    if (pages_.empty()) return -1;
    PROPSHEETHEADERW header = {};
    header.dwSize = sizeof header;
    header.hwndParent = owner;
    header.hInstance = GetModuleHandleW(nullptr);
    header.pszCaption = caption;
    header.nPages = static_cast<UINT>(pages_.size());
    header.phpage = pages_.data();
    const INT_PTR result = PropertySheetW(&header);
    pages_.clear();  // the sheet destroyed them
    return result;
}

}  // namespace sheethost
