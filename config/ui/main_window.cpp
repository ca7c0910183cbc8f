#include "ui/main_window.h"

#include <windowsx.h>

#include "data/autorun.h"
#include "data/device_changes.h"
#include "data/inventory.h"
#include "data/port_maps.h"
#include "data/registry_paths.h"
#include "data/results.h"
#include "data/service_control.h"
#include "resource.h"
#include "ui/applet.h"
#include "ui/device_rules.h"
#include "ui/guarded.h"
#include "ui/property_sheet.h"
#include "ui/reserved_ports.h"
#include "ui/service_prompts.h"
#include "ui/tool_icon.h"

namespace {

MainWindow* current;  // one main window at a time

bool Checked(HWND window, int id)
{
    return IsDlgButtonChecked(window, id) == BST_CHECKED;
}

void ReportIfFailed(int result)
{
    if (result != kResultOk) ReportResult(result);
}

}  // namespace

void RunMainWindow()
{
    DialogBoxParamA(ToolInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainWindow::DialogProc, 0);
}

INT_PTR CALLBACK MainWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded<INT_PTR>(TRUE, [&] { return HandleMessage(window, message, wParam, lParam); });
}

INT_PTR MainWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        static MainWindow instance;
        instance = MainWindow{};
        current = &instance;
        current->OnInitDialog(window);
        return TRUE;
    }
    if (!current || current->window_ != window) return FALSE;
    if (message == ToolMessage && ToolMessage) {
        // What the user works in: the main window, or the dialog or sheet it has open (under the
        // reserved-ports dialog the main window is hidden).
        HWND front = GetLastActivePopup(window);
        if (IsIconic(front)) ShowWindow(front, SW_RESTORE);
        SetForegroundWindow(front);
        SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    switch (message) {
    case WM_NOTIFY: {
        // Only the two selection notifications carry the tree-view record; any other may be a
        // bare header.
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom != IDC_TREE || (header->code != TVN_SELCHANGINGA && header->code != TVN_SELCHANGEDA))
            return TRUE;
        const HTREEITEM newItem = reinterpret_cast<const NMTREEVIEWA*>(lParam)->itemNew.hItem;
        // Some tree views ignore a drop highlight for the item that is already selected, which it
        // is by the time the change is announced; moving it while the change is still coming
        // works everywhere.
        if (header->code == TVN_SELCHANGINGA)
            SendMessageA(current->tree_, TVM_SELECTITEM, TVGN_DROPHILITE, reinterpret_cast<LPARAM>(newItem));
        else
            current->SelectionChanged(newItem);
        return TRUE;
    }
    case WM_SETCURSOR:
        // The wait cursor stays over the window and its controls for the whole restart, also
        // while a message box of the restart lets the mouse move.
        if (!current->restarting_) return FALSE;
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
        return TRUE;
    case WM_COMMAND:
        current->OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        current->OnDestroy();
        return FALSE;
    default: return FALSE;
    }
}

void MainWindow::OnInitDialog(HWND window)
{
    window_ = window;
    tree_ = GetDlgItem(window, IDC_TREE);
    smallIcon_ = SetToolIcons(window);
    if (IsAutorunSet()) CheckDlgButton(window, IDC_AUTORUN, BST_CHECKED);
    if (GetStopUnusedServices()) CheckDlgButton(window, IDC_STOP_UNUSED, BST_CHECKED);
    treeProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(tree_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TreeProc)));
    AttachImages();
    Build();
}

void MainWindow::AttachImages()
{
    images_ = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, kTreeImageCount, 0);
    HBITMAP strip = LoadBitmapA(ToolInstance, MAKEINTRESOURCEA(IDB_TREE_IMAGES));
    if (images_ && strip) ImageList_AddMasked(images_, strip, RGB(0, 255, 0));
    if (strip) DeleteObject(strip);
    if (images_ && ImageList_GetImageCount(images_) < kTreeImageCount) {
        ImageList_Destroy(images_);
        images_ = nullptr;
    }
    if (images_) SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images_));
}

void MainWindow::OnDestroy()
{
    SetWindowLongPtrA(tree_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(treeProc_));
    if (images_) ImageList_Destroy(images_);
    images_ = nullptr;
    if (smallIcon_) DestroyIcon(smallIcon_);
    smallIcon_ = nullptr;
    current = nullptr;
}

void MainWindow::OnCommand(int id)
{
    switch (id) {
    case IDOK: OnOk(); break;
    case IDCANCEL: EndDialog(window_, 1); break;
    case IDC_SHOW_UNAVAILABLE: Rebuild(); break;
    case IDC_PROPERTIES: OpenProperties(nullptr); break;
    case IDC_ENABLE_DISABLE: EnableDisableClicked(); break;
    case IDC_REMOVE: Remove(nullptr); break;
    case IDC_AUTORUN: autorunToggled_ = !autorunToggled_; break;
    case IDC_STOP_UNUSED: stopOptionToggled_ = !stopOptionToggled_; break;
    case IDC_RESTART_DRIVERS: RestartDrivers(); break;
    case IDC_PORT_MAP: ShowReservedPortsDialog(window_); break;
    default: break;
    }
}

bool MainWindow::HasPendingChanges() const
{
    if (pendingChanges_) return true;
    for (const CardEntry& card : CardList)
        if (card.modified || (card.remove && !card.deleted)) return true;
    for (const PortEntry& port : PortList)
        if (port.modified || (port.remove && !port.deleted)) return true;
    return false;
}

void MainWindow::OnOk()
{
    // Enter in the tree opens the selected device's properties instead of closing.
    if (GetFocus() == tree_) {
        SendMessageA(tree_, kOpenPropertiesMessage, 0, 0);
        return;
    }
    if (autorunToggled_) ReportResult(MakeAutorun(Checked(window_, IDC_AUTORUN) ? 1 : 0));
    if (stopOptionToggled_) ReportResult(SetStopUnusedServices(Checked(window_, IDC_STOP_UNUSED) ? 1 : 0));
    if (HasPendingChanges()) {
        ReportResult(SaveCards());
        ReportResult(SavePorts());
        if (removalRequested_) {
            if (!ControlServices(kEnumeratorServiceFlag)) ReportResult(kResultServiceManagerFailed);
            ReportResult(RemovePorts());
            ReportResult(RemoveCards());
            ReportResult(SavePortMaps());
        }
        if (pendingChanges_ & kRebootNeeded) {
            AskForReboot(window_);
            return;
        }
    }
    for (uint32_t service : {kSerialServiceFlag, kParallelServiceFlag, kParallelMiniServiceFlag})
        if (!ControlServices(service)) ReportResult(kResultServiceManagerFailed);
    EndDialog(window_, 1);
}

void MainWindow::RestartDrivers()
{
    restarting_ = true;
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    ReportIfFailed(SaveCards());
    ReportIfFailed(SavePorts());
    ReportIfFailed(RemovePorts());
    ReportIfFailed(RemoveCards());
    ReportIfFailed(SavePortMaps());
    // A driver that did not start is said here: the user pressed the button to have them running.
    if (!ControlServices(kFullRestartFlag)) ReportResult(kResultServiceManagerFailed);
    GetConfiguration();
    Rebuild();
    restarting_ = false;
    SetCursor(previous ? previous : LoadCursor(nullptr, IDC_ARROW));
}

void MainWindow::OpenProperties(HTREEITEM item)
{
    if (!item) item = Selected();
    int code = 0;
    if (!item || IsRootOrOtherPort(item) || !CodeOf(item, code)) return;
    const int result = DevicePropertySheet(window_, code);
    if (CardEntry* card = CardOf(code)) {
        GetCardChanges(card->keyPath, code);
        for (int32_t index : card->portIndexes)
            for (const auto& [portItem, itemCode] : items_)
                if (itemCode == kPortItemBase + index) SetText(portItem, PortList[index].DeviceDesc);
    }
    pendingChanges_ |= static_cast<uint32_t>(result);
}

void MainWindow::ShowContextMenu(POINT clientPoint)
{
    TVHITTESTINFO hit = {};
    hit.pt = clientPoint;
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    int code = 0;
    if (!item || !(hit.flags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON)) || !CodeOf(item, code) ||
        KindOf(code) == ItemKind::None)
        return;
    HMENU menu = LoadMenuA(ToolInstance, MAKEINTRESOURCEA(IDM_TREE_MENU));
    if (!menu) return;
    POINT screen = clientPoint;
    ClientToScreen(tree_, &screen);
    const int command = TrackPopupMenu(GetSubMenu(menu, 0), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_RIGHTBUTTON,
                                       screen.x, screen.y, 0, window_, nullptr);
    DestroyMenu(menu);
    switch (command) {
    case IDM_ENABLE: Enable(code); break;
    case IDM_DISABLE: Disable(code); break;
    case IDM_DELETE: Remove(item); break;
    case IDM_PROPERTIES: OpenProperties(item); break;
    default: break;
    }
}

LRESULT CALLBACK MainWindow::TreeProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Guarded<LRESULT>(0, [&] { return HandleTreeMessage(tree, message, wParam, lParam); });
}

LRESULT MainWindow::HandleTreeMessage(HWND tree, UINT message, WPARAM wParam, LPARAM lParam)
{
    MainWindow* self = current;
    if (!self) return DefWindowProcA(tree, message, wParam, lParam);
    // The tree never sees a double-click: it would expand or collapse the item.
    if (message == WM_LBUTTONDBLCLK) {
        self->OpenProperties(nullptr);
        return 0;
    }
    const LRESULT result = CallWindowProcA(self->treeProc_, tree, message, wParam, lParam);
    switch (message) {
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            HWND button = GetDlgItem(self->window_, IDC_ENABLE_DISABLE);
            CheckDlgButton(self->window_, IDC_ENABLE_DISABLE,
                           Checked(self->window_, IDC_ENABLE_DISABLE) ? BST_UNCHECKED : BST_CHECKED);
            SendMessageA(self->window_, WM_COMMAND, MAKEWPARAM(IDC_ENABLE_DISABLE, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
        } else if (wParam == VK_DELETE) {
            self->Remove(nullptr);
        }
        break;
    case WM_CHAR:
        if (wParam == '+' || wParam == '-')
            SendMessageA(tree, TVM_EXPAND, wParam == '+' ? TVE_EXPAND : TVE_COLLAPSE,
                         reinterpret_cast<LPARAM>(self->Selected()));
        break;
    case kOpenPropertiesMessage: self->OpenProperties(nullptr); break;
    case WM_RBUTTONDOWN: self->ShowContextMenu(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); break;
    default: break;
    }
    return result;
}
