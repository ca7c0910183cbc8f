// Page 0, "Settings": the port's line format (baud rate, data bits, parity, stop bits, flow control).
#include <windows.h>
#include <commctrl.h>

#include "line_settings.h"
#include "number_text.h"
#include "page_context.h"
#include "pages.h"
#include "resource.h"
#include "settings_store.h"

namespace {

constexpr int kPage = 0;
constexpr int kBaudTextChars = 29;
constexpr int kBaudDigits = 19;

const int32_t kBaudRates[] = {75,   110,   134,   150,   300,   600,   1200,   1800,   2400,   4800,   7200,
                              9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 230400, 460800, 921600};
constexpr int kDefaultBaudIndex = 11;  // 9600

struct ChoiceList {
    int control;
    int firstText;
    const uint8_t* codes;
    int count;
    int fallbackIndex;
    uint8_t PortPageContext::*field;
};

const uint8_t kDataBitsCodes[] = {kDataBits5, kDataBits6, kDataBits7, kDataBits8};
const uint8_t kParityCodes[] = {kParityEven, kParityOdd, kParityNone, kParityMark, kParitySpace};
const uint8_t kStopBitsCodes[] = {kStopBits1, kStopBits1_5, kStopBits2};
const uint8_t kFlowCodes[] = {kFlowNone, kFlowHardware, kFlowXonXoff};

const ChoiceList kLists[] = {
    {IDC_DATA_BITS, IDS_DATA_BITS_FIRST, kDataBitsCodes, 4, 3, &PortPageContext::dataBits},
    {IDC_PARITY, IDS_PARITY_FIRST, kParityCodes, 5, 2, &PortPageContext::parity},
    {IDC_STOP_BITS, IDS_STOP_BITS_FIRST, kStopBitsCodes, 3, 0, &PortPageContext::stopBits},
    {IDC_FLOW_CONTROL, IDS_FLOW_FIRST, kFlowCodes, 3, 2, &PortPageContext::flowControl},
};

void AddText(HWND page, int control, int textId)
{
    wchar_t text[64] = {};
    LoadStringW(ProviderInstance, textId, text, 64);
    SendDlgItemMessageW(page, control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void FillBaudList(HWND page, const PortPageContext* context)
{
    const uint32_t maximum = Get32(context->functionality, functionality::kMaxBaud);
    int selected = -1;
    for (int i = 0; i < static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]); ++i) {
        if (static_cast<uint32_t>(kBaudRates[i]) > maximum) continue;
        AddText(page, IDC_BAUD_RATE, IDS_BAUD_FIRST + i);
        if (kBaudRates[i] == context->baudRate) selected = i;
    }
    if (selected >= 0) {
        SendDlgItemMessageW(page, IDC_BAUD_RATE, CB_SETCURSEL, selected, 0);
    } else {
        wchar_t text[16];
        wsprintfW(text, L"%lu", static_cast<unsigned long>(context->baudRate));
        SetDlgItemTextW(page, IDC_BAUD_RATE, text);
    }
}

void FillList(HWND page, const PortPageContext* context, const ChoiceList& list)
{
    int selected = list.fallbackIndex;
    for (int i = 0; i < list.count; ++i) {
        AddText(page, list.control, list.firstText + i);
        if (list.codes[i] == context->*list.field) selected = i;
    }
    SendDlgItemMessageW(page, list.control, CB_SETCURSEL, selected, 0);
}

// The baud rate typed or chosen in the box; false when the box is empty.
bool ReadBaudRate(HWND page, int32_t& rate)
{
    wchar_t text[kBaudTextChars + 1] = {};
    GetDlgItemTextW(page, IDC_BAUD_RATE, text, kBaudTextChars + 1);
    if (!text[0]) return false;
    rate = LeadingDecimal(text, kBaudDigits);
    return true;
}

// Takes the list's selection into the context; true when the code changed.
bool ReadList(HWND page, PortPageContext* context, const ChoiceList& list)
{
    const LRESULT index = SendDlgItemMessageW(page, list.control, CB_GETCURSEL, 0, 0);
    if (index < 0 || index >= list.count) return false;
    const uint8_t old = context->*list.field;
    context->*list.field = list.codes[index];
    return old != context->*list.field;
}

void RestoreDefaults(HWND page, PortPageContext* context)
{
    context->baudRate = 9600;
    context->dataBits = kDataBits8;
    context->parity = kParityNone;
    context->stopBits = kStopBits1;
    context->flowControl = kFlowXonXoff;
    SendDlgItemMessageW(page, IDC_BAUD_RATE, CB_SETCURSEL, kDefaultBaudIndex, 0);
    for (const ChoiceList& list : kLists) {
        int index = 0;
        while (index < list.count && list.codes[index] != context->*list.field) ++index;
        SendDlgItemMessageW(page, list.control, CB_SETCURSEL, index, 0);
    }
    Broadcast(context, kPage, kRefresh);
}

void OnCommand(HWND page, PortPageContext* context, int control, int notification)
{
    bool changed = false;
    if (control == IDC_BAUD_RATE) {
        int32_t rate = 0;
        if (ReadBaudRate(page, rate)) {
            changed = rate != context->baudRate;
            context->baudRate = rate;
        }
    } else if (control == IDC_RESTORE_DEFAULTS) {
        if (notification == BN_CLICKED) RestoreDefaults(page, context);
        return;
    } else {
        for (const ChoiceList& list : kLists)
            if (list.control == control && (control != IDC_FLOW_CONTROL || notification == CBN_SELENDOK))
                changed = ReadList(page, context, list);
    }
    if (changed) Broadcast(context, kPage, kRefresh);
}

void Notify(PortPageContext* context, int kind)
{
    if (kind != kApply) return;
    HWND page = context->settingsPage;
    int32_t rate = 0;
    if (page && ReadBaudRate(page, rate)) {
        context->baudRate = rate;
        for (const ChoiceList& list : kLists) ReadList(page, context, list);
    }
    PageApplied(context, kPage);
}

}  // namespace

int PrepareSettingsPage(PortPageContext* context)
{
    if (!context->settingsLoaded && !ReadProfileEntry(context)) return 0;
    RegisterNotifier(context, kPage, Notify);
    return 1;
}

INT_PTR CALLBACK SettingsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = FALSE;
    if (HandleCommonPageMessage(page, message, lParam, result)) return result;
    switch (message) {
    case WM_INITDIALOG: {
        PortPageContext* context = AttachContext(page, lParam);
        context->settingsPage = page;
        FillBaudList(page, context);
        for (const ChoiceList& list : kLists) FillList(page, context, list);
        return TRUE;
    }
    case WM_COMMAND:
        if (PortPageContext* context = ContextOf(page)) OnCommand(page, context, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    default: return FALSE;
    }
}
