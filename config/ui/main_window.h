// The tool's main window (dialog 101): the device tree of cards, their ports and the other ports,
// the enable/disable/remove buttons, the two options, "Restart Drivers" and OK/Cancel.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <utility>
#include <vector>

// Bits of the pending-change word.
constexpr uint32_t kStateChanged = 4;  // a device was enabled or disabled
constexpr uint32_t kRebootNeeded = 8;  // a property sheet asks for a restart of the computer

// Private message of the tree: open the properties of the selected item.
constexpr UINT kOpenPropertiesMessage = WM_USER + 1;

// Shows the main window modally, without owner; returns when it was closed with OK or Cancel.
void RunMainWindow();

class MainWindow {
public:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    struct SavedTreeState {
        bool otherPortsExpanded = false;
        bool ktPortsExpanded = false;
        std::vector<int> visibleCardCodes;  // codes of the items visible below "KT Cards"
        bool selectionUnderPortRoots = false;
        int selectedCode = 0;
    };

    // Window (main_window.cpp).
    void OnInitDialog(HWND window);
    void OnDestroy();
    void OnCommand(int id);
    void OnOk();
    void RestartDrivers();
    void OpenProperties(HTREEITEM item);
    void ShowContextMenu(POINT clientPoint);
    void AttachImages();
    bool HasPendingChanges() const;
    static LRESULT CALLBACK TreeProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT HandleTreeMessage(HWND tree, UINT message, WPARAM wParam, LPARAM lParam);

    // Tree (device_tree.cpp).
    void Build();
    void Rebuild();
    void SaveTreeState();
    void RestoreTreeState();
    HTREEITEM Insert(HTREEITEM parent, const char* text, int code, int image);
    void DeleteItem(HTREEITEM item);
    void SetImage(int code, int image);
    void SetText(HTREEITEM item, const char* text);
    void Enable(int code);
    void Disable(int code);
    void Remove(HTREEITEM item);
    void SelectionChanged(HTREEITEM item);
    void EnableDisableClicked();
    bool CodeOf(HTREEITEM item, int& code) const;
    HTREEITEM Next(HTREEITEM item, UINT relation) const;
    HTREEITEM Selected() const { return Next(nullptr, TVGN_CARET); }
    bool IsRootOrOtherPort(HTREEITEM item) const;
    void ShowButton(int id, bool show) const;

    HWND window_ = nullptr;
    HWND tree_ = nullptr;
    WNDPROC treeProc_ = nullptr;
    HIMAGELIST images_ = nullptr;
    HTREEITEM otherPorts_ = nullptr, ktPorts_ = nullptr, ktCards_ = nullptr;
    std::vector<std::pair<HTREEITEM, int>> items_;  // every inserted item with its code
    bool autorunToggled_ = false;
    bool stopOptionToggled_ = false;
    bool removalRequested_ = false;
    bool restarting_ = false;  // "Restart Drivers" is at work: the wait cursor stays
    HICON smallIcon_ = nullptr;  // loaded for this window, destroyed with it
    uint32_t pendingChanges_ = 0;
    SavedTreeState saved_;
};
