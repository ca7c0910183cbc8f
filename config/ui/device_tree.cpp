// The main window's device tree: building it from the inventory, its images, enabling,
// disabling and removing devices, and keeping its state across a rebuild.
#include <algorithm>

#include "data/inventory.h"
#include "resource.h"
#include "ui/device_rules.h"
#include "ui/main_window.h"

namespace {

const char kDisableCard[] = "Disable Card";
const char kDisablePort[] = "Disable Port";
const char kEnableCard[] = "Enable Card";
const char kEnablePort[] = "Enable Port";

}  // namespace

HTREEITEM MainWindow::Insert(HTREEITEM parent, const char* text, int code, int image)
{
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<char*>(text);
    insert.item.lParam = code;
    insert.item.iImage = insert.item.iSelectedImage = image;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    if (item) items_.emplace_back(item, code);
    return item;
}

void MainWindow::Build()
{
    items_.clear();
    const bool showUnavailable = IsDlgButtonChecked(window_, IDC_SHOW_UNAVAILABLE) == BST_CHECKED;
    otherPorts_ = Insert(TVI_ROOT, "Other Ports", 0, kImagePort);
    ktPorts_ = Insert(TVI_ROOT, "KT Ports", 0, kImagePort);
    ktCards_ = Insert(TVI_ROOT, "KT Cards", 0, kImageCard);

    for (const OtherPortEntry& other : OtherPortList) Insert(otherPorts_, other.name, 0, kImagePort);

    for (size_t i = 0; i < PortList.size(); ++i) {
        const PortEntry& port = PortList[i];
        if (!IsListed(port.present, port.remove, showUnavailable)) continue;
        const int code = kPortItemBase + static_cast<int>(i);
        if (!port.present)
            Insert(ktPorts_, port.DeviceDesc, code, kImagePortAbsent);
        else if (port.error)
            Insert(ktPorts_, port.DeviceDesc, code, kImagePortError);
        else
            ForEachHolder(static_cast<int>(i), [&](const CardEntry& holder) {
                Insert(ktPorts_, port.DeviceDesc, code, PortImageUnderPorts(port, holder));
            });
    }

    for (size_t c = 0; c < CardList.size(); ++c) {
        const CardEntry& card = CardList[c];
        if (card.deviceId == 0xFFFF || !IsListed(card.present, card.remove, showUnavailable)) continue;
        HTREEITEM cardItem = Insert(ktCards_, card.DeviceDesc, kCardItemBase + static_cast<int>(c), CardImage(card));
        for (int32_t index : card.portIndexes) {
            const PortEntry& port = PortList[index];
            if (!IsListed(port.present, port.remove, showUnavailable)) continue;
            Insert(cardItem, port.DeviceDesc, kPortItemBase + index, PortImageUnderCard(port, card));
        }
    }

    SendMessageA(tree_, TVM_SELECTITEM, TVGN_DROPHILITE, reinterpret_cast<LPARAM>(ktPorts_));
    for (int id : {IDC_ENABLE_DISABLE, IDC_PROPERTIES, IDC_REMOVE}) ShowButton(id, false);
    InvalidateRect(tree_, nullptr, TRUE);
}

void MainWindow::Rebuild()
{
    SaveTreeState();
    SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    items_.clear();
    Build();
    RestoreTreeState();
    InvalidateRect(tree_, nullptr, TRUE);
    UpdateWindow(tree_);
}

void MainWindow::SaveTreeState()
{
    // A root counts as expanded when the next visible item is its child.
    const auto expanded = [&](HTREEITEM root) {
        return root && Next(Next(root, TVGN_NEXTVISIBLE), TVGN_PARENT) == root;
    };
    saved_ = SavedTreeState{};
    saved_.otherPortsExpanded = expanded(otherPorts_);
    saved_.ktPortsExpanded = expanded(ktPorts_);
    int code = 0;
    for (HTREEITEM item = Next(ktCards_, TVGN_NEXTVISIBLE); item; item = Next(item, TVGN_NEXTVISIBLE))
        if (CodeOf(item, code)) saved_.visibleCardCodes.push_back(code);
    if (HTREEITEM selected = Selected()) {
        HTREEITEM parent = Next(selected, TVGN_PARENT);
        saved_.selectionUnderPortRoots = parent && (parent == otherPorts_ || parent == ktPorts_);
        if (CodeOf(selected, code)) saved_.selectedCode = code;
    }
}

void MainWindow::RestoreTreeState()
{
    const auto wasVisible = [&](int code) {
        return std::find(saved_.visibleCardCodes.begin(), saved_.visibleCardCodes.end(), code) !=
               saved_.visibleCardCodes.end();
    };
    if (saved_.otherPortsExpanded) SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(otherPorts_));
    if (saved_.ktPortsExpanded) SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(ktPorts_));
    int code = 0;
    for (HTREEITEM card = Next(ktCards_, TVGN_CHILD); card; card = Next(card, TVGN_NEXT)) {
        if (CodeOf(card, code) && wasVisible(code))
            SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(ktCards_));
        for (HTREEITEM port = Next(card, TVGN_CHILD); port; port = Next(port, TVGN_NEXT))
            if (CodeOf(port, code) && wasVisible(code))
                SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(card));
    }

    const auto select = [&](HTREEITEM item) {
        SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    };
    if (saved_.selectionUnderPortRoots) {
        if (saved_.selectedCode == 0) select(otherPorts_);
        for (HTREEITEM port = Next(ktPorts_, TVGN_CHILD); saved_.selectedCode && port; port = Next(port, TVGN_NEXT))
            if (CodeOf(port, code) && code == saved_.selectedCode) select(port);
    } else if (saved_.selectedCode) {
        HTREEITEM found = nullptr;
        for (HTREEITEM card = Next(ktCards_, TVGN_CHILD); card && !found; card = Next(card, TVGN_NEXT)) {
            if (CodeOf(card, code) && code == saved_.selectedCode) found = card;
            for (HTREEITEM port = Next(card, TVGN_CHILD); port && !found; port = Next(port, TVGN_NEXT))
                if (CodeOf(port, code) && code == saved_.selectedCode) found = port;
        }
        if (found) select(found);
    }
    SetFocus(tree_);
}

void MainWindow::DeleteItem(HTREEITEM item)
{
    // The item's descendants go with it; so do their pairs.
    std::vector<HTREEITEM> doomed = {item};
    for (size_t i = 0; i < doomed.size(); ++i)
        for (HTREEITEM child = Next(doomed[i], TVGN_CHILD); child; child = Next(child, TVGN_NEXT))
            doomed.push_back(child);
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](const auto& pair) {
                                    return std::find(doomed.begin(), doomed.end(), pair.first) != doomed.end();
                                }),
                 items_.end());
    SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
}

void MainWindow::SetImage(int code, int image)
{
    for (const auto& [item, itemCode] : items_) {
        if (itemCode != code) continue;
        TVITEMA tvItem = {};
        tvItem.mask = TVIF_HANDLE | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        tvItem.hItem = item;
        tvItem.iImage = tvItem.iSelectedImage = image;
        SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tvItem));
    }
}

void MainWindow::SetText(HTREEITEM item, const char* text)
{
    TVITEMA tvItem = {};
    tvItem.mask = TVIF_HANDLE | TVIF_TEXT;
    tvItem.hItem = item;
    tvItem.pszText = const_cast<char*>(text);
    SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tvItem));
}

void MainWindow::Enable(int code)
{
    if (!CanChange(code)) return;
    if (CardEntry* card = CardOf(code)) {
        if (!card->enabled) {
            pendingChanges_ |= kStateChanged;
            card->modified ^= 1;
        }
        card->enabled = 1;
        SetImage(code, kImageCard);
        for (int32_t index : card->portIndexes)
            if (CanChange(kPortItemBase + index) && PortList[index].enabled)
                SetImage(kPortItemBase + index, kImagePort);
    } else if (PortEntry* port = PortOf(code)) {
        if (!port->enabled) {
            pendingChanges_ |= kStateChanged;
            port->modified ^= 1;
        }
        port->enabled = 1;
        SetImage(code, kImagePort);
    }
}

void MainWindow::Disable(int code)
{
    if (!CanChange(code)) return;
    if (CardEntry* card = CardOf(code)) {
        if (card->enabled) {
            pendingChanges_ |= kStateChanged;
            card->modified ^= 1;
        }
        card->enabled = 0;
        SetImage(code, kImageCardDisabled);
        for (int32_t index : card->portIndexes)
            if (PortList[index].error == 0) SetImage(kPortItemBase + index, kImagePortDisabled);
    } else if (PortEntry* port = PortOf(code)) {
        if (port->enabled) {
            pendingChanges_ |= kStateChanged;
            port->modified ^= 1;
        }
        port->enabled = 0;
        SetImage(code, kImagePortDisabled);
    }
}

void MainWindow::Remove(HTREEITEM item)
{
    removalRequested_ = true;
    if (!item) item = Selected();
    int code = 0;
    if (!item || !CodeOf(item, code)) return;

    const auto markRemoved = [](auto& entry) {
        entry.modified = 1;
        entry.remove = 1;
        entry.enabled = 0;
    };
    // Deletes the items carrying the port's code: all of them, or only while the port is still
    // unmarked (a card's own port item then goes with the card).
    const auto removePortItems = [&](int portCode, bool onlyWhileUnmarked) {
        PortEntry& port = *PortOf(portCode);
        std::vector<HTREEITEM> carrying;
        for (const auto& [tvItem, itemCode] : items_)
            if (itemCode == portCode) carrying.push_back(tvItem);
        for (HTREEITEM tvItem : carrying) {
            if (onlyWhileUnmarked && port.remove) break;
            markRemoved(port);
            DeleteItem(tvItem);
        }
    };

    if (CardEntry* card = CardOf(code)) {
        const bool inTable = std::any_of(items_.begin(), items_.end(), [&](const auto& pair) { return pair.first == item; });
        if (!inTable) return;
        for (int32_t index : card->portIndexes) removePortItems(kPortItemBase + index, true);
        markRemoved(*card);
        DeleteItem(item);
    } else if (PortOf(code)) {
        removePortItems(code, false);
    }
}

void MainWindow::SelectionChanged(HTREEITEM item)
{
    SendMessageA(tree_, TVM_SELECTITEM, TVGN_DROPHILITE, reinterpret_cast<LPARAM>(item));
    int code = 0;
    const bool known = item && CodeOf(item, code);
    const ItemKind kind = known ? KindOf(code) : ItemKind::None;
    if (kind != ItemKind::None && CanChange(code)) {
        const bool enabled = kind == ItemKind::Card ? CardOf(code)->enabled : PortOf(code)->enabled;
        ShowButton(IDC_ENABLE_DISABLE, true);
        CheckDlgButton(window_, IDC_ENABLE_DISABLE, enabled ? BST_CHECKED : BST_UNCHECKED);
        const bool card = kind == ItemKind::Card;
        SetDlgItemTextA(window_, IDC_ENABLE_DISABLE,
                        enabled ? (card ? kDisableCard : kDisablePort) : (card ? kEnableCard : kEnablePort));
    } else {
        ShowButton(IDC_ENABLE_DISABLE, false);
    }
    const bool device = item && !IsRootOrOtherPort(item);
    ShowButton(IDC_PROPERTIES, device);
    ShowButton(IDC_REMOVE, device);
}

void MainWindow::EnableDisableClicked()
{
    int code = 0;
    HTREEITEM item = Selected();
    if (item) CodeOf(item, code);
    const bool card = KindOf(code) == ItemKind::Card;
    if (IsDlgButtonChecked(window_, IDC_ENABLE_DISABLE) == BST_CHECKED) {
        Enable(code);
        SetDlgItemTextA(window_, IDC_ENABLE_DISABLE, card ? kDisableCard : kDisablePort);
    } else {
        Disable(code);
        SetDlgItemTextA(window_, IDC_ENABLE_DISABLE, card ? kEnableCard : kEnablePort);
    }
}

bool MainWindow::CodeOf(HTREEITEM item, int& code) const
{
    TVITEMA tvItem = {};
    tvItem.mask = TVIF_HANDLE | TVIF_PARAM;
    tvItem.hItem = item;
    if (!item || !SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvItem))) return false;
    code = static_cast<int>(tvItem.lParam);
    return true;
}

HTREEITEM MainWindow::Next(HTREEITEM item, UINT relation) const
{
    if (!item && relation != TVGN_CARET && relation != TVGN_ROOT && relation != TVGN_DROPHILITE) return nullptr;
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

bool MainWindow::IsRootOrOtherPort(HTREEITEM item) const
{
    return item == otherPorts_ || item == ktPorts_ || item == ktCards_ || Next(item, TVGN_PARENT) == otherPorts_;
}

void MainWindow::ShowButton(int id, bool show) const
{
    ShowWindow(GetDlgItem(window_, id), show ? SW_SHOW : SW_HIDE);
}
