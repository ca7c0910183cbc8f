#include "more_hardware.h"

#include "resource.h"
#include "settings_store.h"

namespace {

constexpr int kRxSources = 4;
constexpr int kDtrPinUses = 3;
const int kOptionControls[] = {IDC_RX_SOURCE, IDC_BDOUT_ENABLE, IDC_RX_1X, IDC_DTR_PIN, IDC_RI_CLOCK, IDC_TX_1X};

void Check(HWND dialog, int id, uint8_t on)
{
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

uint8_t Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0;
}

void EnableOptions(HWND dialog, bool on)
{
    for (int id : kOptionControls) EnableWindow(GetDlgItem(dialog, id), on);
}

void FillList(HWND dialog, int id, int firstText, int count, int selected)
{
    for (int i = 0; i < count; ++i) {
        wchar_t text[32] = {};
        LoadStringW(ProviderInstance, firstText + i, text, 32);
        SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, selected, 0);
}

void OnInitDialog(HWND dialog, PortPageContext* context)
{
    MoreHardwareDialog& more = context->moreHardware;
    more.window = dialog;
    FillList(dialog, IDC_RX_SOURCE, IDS_RX_SOURCE_FIRST, kRxSources, more.clock.receiveClockSource);
    FillList(dialog, IDC_DTR_PIN, IDS_DTR_PIN_FIRST, kDtrPinUses, more.clock.dtrPinUse);
    more.enableCksWhenOpened = more.enableCks;
    Check(dialog, IDC_ENABLE_CKS, more.enableCks);
    Check(dialog, IDC_BDOUT_ENABLE, more.clock.bdoutEnabled);
    Check(dialog, IDC_RX_1X, more.clock.receive1x);
    Check(dialog, IDC_RI_CLOCK, more.clock.riClockSource);
    Check(dialog, IDC_TX_1X, more.clock.transmit1x);
    EnableOptions(dialog, more.enableCks != 0);
}

void TakeOptions(HWND dialog, MoreHardwareDialog& more)
{
    more.clock.bdoutEnabled = Checked(dialog, IDC_BDOUT_ENABLE);
    more.clock.receive1x = Checked(dialog, IDC_RX_1X);
    more.clock.riClockSource = Checked(dialog, IDC_RI_CLOCK);
    more.clock.transmit1x = Checked(dialog, IDC_TX_1X);
    const LRESULT source = SendDlgItemMessageW(dialog, IDC_RX_SOURCE, CB_GETCURSEL, 0, 0);
    if (source >= 0 && source < kRxSources) more.clock.receiveClockSource = static_cast<uint8_t>(source);
    const LRESULT pin = SendDlgItemMessageW(dialog, IDC_DTR_PIN, CB_GETCURSEL, 0, 0);
    if (pin >= 0 && pin < kDtrPinUses) more.clock.dtrPinUse = static_cast<uint8_t>(pin);
    more.cks = EncodeCks(more.clock);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        OnInitDialog(dialog, reinterpret_cast<PortPageContext*>(lParam));
        return TRUE;
    }
    auto* context = reinterpret_cast<PortPageContext*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (message != WM_COMMAND || !context) return FALSE;
    MoreHardwareDialog& more = context->moreHardware;
    switch (LOWORD(wParam)) {
    case IDC_ENABLE_CKS: {
        const uint8_t on = Checked(dialog, IDC_ENABLE_CKS);
        if (on != more.enableCks) EnableOptions(dialog, on != 0);
        more.enableCks = on;
        return TRUE;
    }
    case IDOK:
        TakeOptions(dialog, more);
        EndDialog(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        more.enableCks = more.enableCksWhenOpened;
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void DecodeClockOptions(PortPageContext* context)
{
    context->moreHardware.clock = DecodeCks(context->moreHardware.cks);
}

void RunMoreHardwareSettings(HWND page, PortPageContext* context)
{
    wchar_t text[512] = {}, caption[64] = {};
    LoadStringW(ProviderInstance, IDS_MORE_WARNING, text, 512);
    LoadStringW(ProviderInstance, IDS_MORE_CAPTION, caption, 64);
    if (MessageBoxW(page, text, caption, MB_YESNO | MB_ICONWARNING) != IDYES) return;
    DialogBoxParamW(ProviderInstance, MAKEINTRESOURCEW(IDD_MORE_HARDWARE), page, DialogProc,
                    reinterpret_cast<LPARAM>(context));
    context->moreHardware.window = nullptr;
}
