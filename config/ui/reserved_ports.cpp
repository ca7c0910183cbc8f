#include "ui/reserved_ports.h"

#include <cstring>

#include "data/port_maps.h"
#include "data/registry_paths.h"
#include "data/results.h"
#include "resource.h"
#include "ui/guarded.h"
#include "ui/port_ranges.h"
#include "ui/tool_icon.h"

namespace {

constexpr int kTypedChars = 100;  // the first line of a box, at most 99 characters

// One half of the dialog: its map, list, edit box and line prefix.
struct PortGroup {
    uint8_t* map;
    int list;
    int edit;
    const char* prefix;
};

const PortGroup kCom = {ComPortMap, IDC_COM_LIST, IDC_COM_EDIT, "COM"};
const PortGroup kLpt = {LptPortMap, IDC_LPT_LIST, IDC_LPT_EDIT, "LPT"};

HICON smallIcon;

void FillList(HWND dialog, const PortGroup& group)
{
    HWND list = GetDlgItem(dialog, group.list);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    PortRun runs[kMaxPortRuns];
    const int count = ReservedRuns(group.map, runs);
    for (int index = 0; index < count; ++index) {
        char text[32];
        LineText(group.prefix, runs[index], text, sizeof text);
        const LRESULT line = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        if (line >= 0) SendMessageA(list, LB_SETITEMDATA, line, LineValue(runs[index]));
    }
}

void FillLists(HWND dialog)
{
    FillList(dialog, kCom);
    FillList(dialog, kLpt);
}

// The text of the group's box, applied to its map.
void ApplyTyped(HWND dialog, const PortGroup& group, bool add)
{
    HWND edit = GetDlgItem(dialog, group.edit);
    char text[kTypedChars] = {};
    *reinterpret_cast<WORD*>(text) = kTypedChars - 1;
    const LRESULT length = SendMessageA(edit, EM_GETLINE, 0, reinterpret_cast<LPARAM>(text));
    text[length > 0 && length < kTypedChars ? length : 0] = '\0';
    const PortRun range = ParseTypedRange(text);
    if (range.first == 0) return;
    ApplyRange(group.map, range, add);
    SetWindowTextA(edit, "");
    FillLists(dialog);
}

const PortGroup& GroupOf(HWND dialog, WPARAM which)
{
    if (which == kComMap) return kCom;
    if (which == kLptMap) return kLpt;
    return GetFocus() == GetDlgItem(dialog, IDC_COM_EDIT) ? kCom : kLpt;
}

// Both edit boxes: their own handling, plus the private message that applies their text.
LRESULT HandleEditMessage(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto standard = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(edit, GWLP_USERDATA));
    if (message != kApplyTypedMessage) return CallWindowProcA(standard, edit, message, wParam, lParam);
    HWND dialog = GetParent(edit);
    const PortGroup& group = GroupOf(dialog, wParam);
    if (wParam == kComMap || wParam == kLptMap) SendDlgItemMessageA(dialog, group.list, LB_SETCURSEL, -1, 0);
    ApplyTyped(dialog, group, lParam == kAddMode);
    return 0;
}

LRESULT CALLBACK EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded<LRESULT>(0, [&] { return HandleEditMessage(edit, message, wParam, lParam); });
}

void SubclassEdit(HWND dialog, int id)
{
    HWND edit = GetDlgItem(dialog, id);
    SetWindowLongPtrA(edit, GWLP_USERDATA, GetWindowLongPtrA(edit, GWLP_WNDPROC));
    SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc));
}

void SendTyped(HWND dialog, const PortGroup& group, WPARAM which, LPARAM mode)
{
    SendDlgItemMessageA(dialog, group.edit, kApplyTypedMessage, which, mode);
}

void AddClicked(HWND dialog, const PortGroup& group, WPARAM which)
{
    SetFocus(GetDlgItem(dialog, group.edit));
    SendTyped(dialog, group, which, kAddMode);
}

// Without a selected line the typed numbers go; else the selected line's numbers.
void RemoveClicked(HWND dialog, const PortGroup& group, WPARAM which)
{
    HWND list = GetDlgItem(dialog, group.list);
    const LRESULT line = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (line == LB_ERR) {
        SendTyped(dialog, group, which, kRemoveMode);
        return;
    }
    const auto value = static_cast<int>(SendMessageA(list, LB_GETITEMDATA, line, 0));
    SendMessageA(list, LB_DELETESTRING, line, 0);
    ReleaseLine(group.map, value);
}

// Enter in an edit box adds its numbers; OK anywhere else saves and closes.
void OkPressed(HWND dialog)
{
    HWND focus = GetFocus();
    if (focus == GetDlgItem(dialog, IDC_COM_EDIT) || focus == GetDlgItem(dialog, IDC_LPT_EDIT)) {
        SendMessageA(focus, kApplyTypedMessage, 0, kAddMode);
        return;
    }
    ReportResult(SavePortMaps());
    EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, int id)
{
    switch (id) {
    case IDOK: OkPressed(dialog); break;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    case IDC_COM_ADD: AddClicked(dialog, kCom, kComMap); break;
    case IDC_COM_REMOVE: RemoveClicked(dialog, kCom, kComMap); break;
    case IDC_LPT_ADD: AddClicked(dialog, kLpt, kLptMap); break;
    case IDC_LPT_REMOVE: RemoveClicked(dialog, kLpt, kLptMap); break;
    default: break;
    }
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG:
        smallIcon = SetToolIcons(dialog);
        SubclassEdit(dialog, IDC_COM_EDIT);
        SubclassEdit(dialog, IDC_LPT_EDIT);
        FillLists(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        if (smallIcon) DestroyIcon(smallIcon);
        smallIcon = nullptr;
        return FALSE;
    default: return FALSE;
    }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    return Guarded<INT_PTR>(TRUE, [&] { return HandleMessage(dialog, message, wParam); });
}

}  // namespace

void ShowReservedPortsDialog(HWND owner)
{
    if (!Guarded(false, [] {
            GetPortMaps();
            return true;
        }))
        return;
    uint8_t comAsRead[kPortMapBytes], lptAsRead[kPortMapBytes];
    std::memcpy(comAsRead, ComPortMap, kPortMapBytes);
    std::memcpy(lptAsRead, LptPortMap, kPortMapBytes);
    ShowWindow(owner, SW_HIDE);
    const INT_PTR closedWith =
        DialogBoxParamA(ToolInstance, MAKEINTRESOURCEA(IDD_RESERVED_PORTS), owner, DialogProc, 0);
    ShowWindow(owner, SW_SHOW);
    // Cancel: edits of this dialog must not reach a later "Restart Drivers" or OK.
    if (closedWith != IDOK) {
        std::memcpy(ComPortMap, comAsRead, kPortMapBytes);
        std::memcpy(LptPortMap, lptAsRead, kPortMapBytes);
    }
}
