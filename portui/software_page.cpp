// Page 2, "Software": the Overspeed factor and "Use Fast Receive".
#include <windows.h>
#include <commctrl.h>

#include "level_text.h"
#include "pages.h"
#include "resource.h"
#include "trackbar_field.h"

namespace {

constexpr int kPage = 2;

bool FormatFactor(const PortPageContext*, int position, char* text, size_t chars)
{
    return FormatOverspeed(position, text, chars);
}

int ParseFactor(const PortPageContext*, const char* text)
{
    return ParseOverspeed(text);
}

void OnInitDialog(HWND window, PortPageContext* context)
{
    SoftwarePage& page = context->software;
    page.window = window;
    page.overspeedField.dialog = window;
    InitialiseField(page.overspeedField);
    CheckDlgButton(window, IDC_FAST_RX, page.useFastRx == 1 ? BST_CHECKED : BST_UNCHECKED);
}

void OnCommand(HWND window, PortPageContext* context, int id, int notification)
{
    SoftwarePage& page = context->software;
    if (id == IDC_FAST_RX) {
        const int32_t on = IsDlgButtonChecked(window, IDC_FAST_RX) == BST_CHECKED ? 1 : 0;
        const bool changed = on != page.useFastRx;
        page.useFastRx = on;
        if (changed) Broadcast(context, kPage, kRefresh);
    } else if (id == IDC_OVERSPEED_EDIT) {
        HandleField(page.overspeedField, id, notification);
        Broadcast(context, kPage, kRefresh);
    }
}

void Notify(PortPageContext* context, int kind)
{
    if (kind != kApply) return;
    context->software.overspeed = OverspeedByte(context->software.overspeedField.position);
    PageApplied(context, kPage);
}

}  // namespace

int PrepareSoftwarePage(PortPageContext* context)
{
    SoftwarePage& page = context->software;
    page.overspeedField = TrackbarField{IDC_OVERSPEED_LOW, IDC_OVERSPEED_HIGH, IDC_OVERSPEED_EDIT, IDC_OVERSPEED_BAR,
                                        kOverspeedMaximum, nullptr, 0, 0, context, FormatFactor, ParseFactor};
    page.overspeedField.position = OverspeedPosition(page.overspeed);
    RegisterNotifier(context, kPage, Notify);
    return 1;
}

INT_PTR CALLBACK SoftwarePageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = FALSE;
    if (HandleCommonPageMessage(window, message, lParam, result)) return result;
    if (message == WM_INITDIALOG) {
        OnInitDialog(window, AttachContext(window, lParam));
        return TRUE;
    }
    PortPageContext* context = ContextOf(window);
    if (!context) return FALSE;
    switch (message) {
    case WM_COMMAND: OnCommand(window, context, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL:
        HandleField(context->software.overspeedField, IDC_OVERSPEED_BAR, 0);
        Broadcast(context, kPage, kRefresh);
        return TRUE;
    default: return FALSE;
    }
}
