// The page provider's entry: builds the shared context of one port's sheet, offers the pages to
// the host, and writes the settings once all added pages have applied.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>

#include "page_context.h"
#include "pages.h"
#include "pages/page_request.h"
#include "resource.h"
#include "settings_store.h"

namespace {

struct PageRow {
    int dialogTemplate;
    int title;
    DLGPROC procedure;
    int (*prepare)(PortPageContext* context);  // none: the page is not offered
};

const PageRow kPageTable[kPageCount] = {
    {IDD_PORT_SETTINGS, IDS_TITLE_SETTINGS, SettingsPageProc, PrepareSettingsPage},
    {IDD_ADVANCED, IDS_TITLE_ADVANCED, AdvancedPageProc, PrepareAdvancedPage},
    {IDD_SOFTWARE, IDS_TITLE_SOFTWARE, SoftwarePageProc, PrepareSoftwarePage},
    {IDD_AUTO_XON_XOFF, IDS_TITLE_XON_XOFF, XonXoffPageProc, PrepareXonXoffPage},
    {IDD_AUTO_DTR_DSR, IDS_TITLE_DTR_DSR, DtrDsrPageProc, PrepareDtrDsrPage},
    {IDD_AUTO_RTS_CTS, IDS_TITLE_RTS_CTS, RtsCtsPageProc, PrepareRtsCtsPage},
};

// Posted to a page after an apply round that wrote the settings.
constexpr UINT kApplyRoundEnded = WM_APP + 1;

// A page the host refused is destroyed at once; its release does not count against the pages the
// host kept.
bool destroyingRefusedPage;

void FreeContext(PortPageContext* context)
{
    std::free(context->keyPath);
    std::free(context);
}

UINT CALLBACK PageCallback(HWND, UINT message, LPPROPSHEETPAGEW page)
{
    if (message == PSPCB_RELEASE && !destroyingRefusedPage) {
        auto* context = reinterpret_cast<PortPageContext*>(page->lParam);
        if (--context->referenceCount == 0) FreeContext(context);
    }
    return 1;
}

// Whether size bytes at address lie in memory this process may read; nothing is read.
bool Readable(const void* address, size_t size)
{
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const auto* byte = static_cast<const BYTE*>(address);
    while (size > 0) {
        MEMORY_BASIC_INFORMATION region;
        if (!VirtualQuery(byte, &region, sizeof region) || region.State != MEM_COMMIT ||
            !(region.Protect & kReadable) || (region.Protect & PAGE_GUARD))
            return false;
        const size_t left = static_cast<size_t>(static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize - byte);
        if (left >= size) return true;
        byte += left;
        size -= left;
    }
    return true;
}

constexpr size_t kMaxKeyPathChars = 32767;

// The UTF-16 length of text, looking at no unit that cannot be read; -1 when the text runs into
// such memory or past the longest key path.
long WideLength(const wchar_t* text)
{
    for (size_t i = 0; i < kMaxKeyPathChars; ++i) {
        if (!Readable(text + i, sizeof(wchar_t))) return -1;
        if (!text[i]) return static_cast<long>(i);
    }
    return -1;
}

// The host may pass the key path as 8-bit or UTF-16 text. One 8-bit character can only be the
// first half of a UTF-16 character; such a path must then read as at least two UTF-16 characters.
// Telling the two apart needs the bytes after the 8-bit terminator: they are looked at only where
// the memory can be read, and never further than the UTF-16 terminator.
wchar_t* CopyKeyPath(const void* path)
{
    if (!path) return nullptr;
    const size_t narrowLength = std::strlen(static_cast<const char*>(path));
    if (narrowLength == 0) return nullptr;
    if (narrowLength == 1) {
        const auto* wide = static_cast<const wchar_t*>(path);
        const long length = WideLength(wide);
        if (length < 2) return nullptr;
        auto* copy = static_cast<wchar_t*>(std::calloc(length + 1, sizeof(wchar_t)));
        if (copy) std::memcpy(copy, wide, (length + 1) * sizeof(wchar_t));
        return copy;
    }
    const auto* narrow = static_cast<const char*>(path);
    const int length = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
    auto* copy = length > 0 ? static_cast<wchar_t*>(std::calloc(length, sizeof(wchar_t))) : nullptr;
    if (copy) MultiByteToWideChar(CP_ACP, 0, narrow, -1, copy, length);
    return copy;
}

bool AddPages(PortPageContext* context, LPFNADDPROPSHEETPAGE addPage, LPARAM hostData)
{
    for (int page = 0; page < kPageCount; ++page) context->notifiers[page].applied = 1;
    int kept = 0;
    for (const PageRow& row : kPageTable) {
        if (!row.prepare || !row.prepare(context)) continue;
        PROPSHEETPAGEW sheetPage = {};
        sheetPage.dwSize = PROPSHEETPAGEW_V1_SIZE;  // the size every comctl32 takes; 4.00 takes no other
        sheetPage.dwFlags = PSP_USETITLE | PSP_USECALLBACK;
        sheetPage.hInstance = ProviderInstance;
        sheetPage.pszTemplate = MAKEINTRESOURCEW(row.dialogTemplate);
        sheetPage.pszTitle = MAKEINTRESOURCEW(row.title);
        sheetPage.pfnDlgProc = row.procedure;
        sheetPage.lParam = reinterpret_cast<LPARAM>(context);
        sheetPage.pfnCallback = PageCallback;
        HPROPSHEETPAGE handle = CreatePropertySheetPageW(&sheetPage);
        if (!handle) continue;
        if (addPage(handle, hostData)) {
            ++context->referenceCount;
            ++kept;
        } else {
            // Its notifier stays: the page still collects its prepared values when the others apply.
            destroyingRefusedPage = true;
            DestroyPropertySheetPage(handle);
            destroyingRefusedPage = false;
        }
    }
    return kept > 0;
}

}  // namespace

void RegisterNotifier(PortPageContext* context, int page, void (*notify)(PortPageContext*, int))
{
    if (page < 0 || page >= kNotifierCount) return;
    context->notifiers[page].notify = notify;
    context->notifiers[page].applied = 0;
}

void Broadcast(PortPageContext* context, int sender, int kind)
{
    for (int page = 0; page < kNotifierCount; ++page)
        if (page != sender && context->notifiers[page].notify) context->notifiers[page].notify(context, kind);
}

void PageApplied(PortPageContext* context, int page)
{
    if (page < 0 || page >= kNotifierCount || context->notifiers[page].applied) return;
    context->notifiers[page].applied = 1;
    for (int p = 0; p < kPageCount; ++p)
        if (!context->notifiers[p].applied) return;
    // A failed write ends the round as well (its box was shown): the next Apply tries again.
    StorePortSettings(context);
    if (!context->writtenInRound) context->writtenInRound = 1;
}

bool HandleCommonPageMessage(HWND page, UINT message, LPARAM lParam, INT_PTR& result)
{
    PortPageContext* context = ContextOf(page);
    if (message == kApplyRoundEnded) {
        // Every page has collected and the settings were written once: from now on a change
        // is written by the next Apply or OK.
        if (context && context->writtenInRound) {
            context->writtenInRound = 0;
            for (int p = 0; p < kPageCount; ++p)
                if (context->notifiers[p].notify) context->notifiers[p].applied = 0;
        }
        result = TRUE;
        return true;
    }
    if (message != WM_NOTIFY) return false;
    if (reinterpret_cast<const NMHDR*>(lParam)->code == static_cast<UINT>(PSN_APPLY) && context) {
        Broadcast(context, kEveryPage, kApply);
        // The sheet sends PSN_APPLY to its other pages within the same round; the posted end
        // arrives after all of them.
        if (context->writtenInRound == 1) {
            context->writtenInRound = 2;
            PostMessageW(page, kApplyRoundEnded, 0, 0);
        }
    }
    SetWindowLongPtrW(page, DWLP_MSGRESULT, 0);
    result = TRUE;
    return true;
}

PortPageContext* AttachContext(HWND page, LPARAM initParam)
{
    auto* context = reinterpret_cast<PortPageContext*>(reinterpret_cast<PROPSHEETPAGEW*>(initParam)->lParam);
    SetWindowLongPtrW(page, DWLP_USER, reinterpret_cast<LONG_PTR>(context));
    return context;
}

extern "C" BOOL WINAPI EnumPropPages(PageRequest* request, LPFNADDPROPSHEETPAGE addPage, LPARAM hostData)
{
    if (!request || !addPage) return FALSE;
    auto* context = static_cast<PortPageContext*>(std::calloc(1, sizeof(PortPageContext)));
    if (!context) return FALSE;
    context->keyPath = CopyKeyPath(request->keyPath);
    if (!context->keyPath) {
        FreeContext(context);
        return FALSE;
    }
    request->result = 0;
    context->result = &request->result;
    bool added = false;
    try {
        context->loadResult = LoadPortSettings(context);
        added = context->loadResult && AddPages(context, addPage, hostData);
    } catch (...) {
        // Out of memory while reading: no pages, as for any other failure to load. Pages added
        // before hold references and free the context with their release.
        if (context->referenceCount > 0) return TRUE;
    }
    if (!added) {
        FreeContext(context);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ProviderInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
