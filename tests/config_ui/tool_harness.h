// Runs the real tool in this process (StartCfgNt on the test's main thread, against the Wine
// registry and stand-in services) and drives its main window from a second thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "resource.h"
#include "simulated_registry.h"

struct TreeItem {
    HTREEITEM handle = nullptr;
    std::string text;
    int image = -1;
    int code = -1;
    bool expanded = false;
    std::vector<TreeItem> children;

    // The child at index; an empty item, and a failure, when there is no such child.
    const TreeItem& Child(size_t index) const;
};

class ToolHarness : public SimulatedRegistry {
protected:
    void SetUp() override;
    void TearDown() override;

    // Closes what an earlier test program, killed while the tool ran, may have left: a window of
    // the tool in another process, the tool's instance atom. True when there was something.
    static bool ClearLeftovers();

    // Registers the four stand-in driver services and starts them.
    void RegisterServices();

    // Runs the tool; drive() runs on a second thread once the main window is visible. The window
    // is cancelled afterwards if drive() left it open.
    void RunTool(const std::function<void()>& drive);

    // --- for drive() ---
    std::vector<TreeItem> Tree() const;  // the three roots with everything below them
    TreeItem Root(const std::string& text) const;
    // Item under a root by the texts of its path, e.g. {"KT Cards", "Qarix PCI 4S1P"}.
    HTREEITEM Find(const std::vector<std::string>& path, int occurrence = 0) const;
    HTREEITEM ItemWithCode(const std::string& root, int code, int occurrence = 0) const;
    HTREEITEM Selected() const;
    HTREEITEM DropHighlighted() const;
    void Select(HTREEITEM item) const;
    void Expand(HTREEITEM item) const;
    void ExpandAll() const;

    void Click(int id) const;           // a real button click (check boxes toggle)
    void Command(int id) const;         // the command alone, posted
    void FocusTree() const;
    void KeyInTree(UINT virtualKey) const;
    void CharInTree(char character) const;
    void ContextMenu(HTREEITEM item, int downPresses) const;  // picks the n-th entry
    bool Visible(int id) const;
    std::string Text(int id) const;
    bool Checked(int id) const;
    bool WindowOpen() const;
    bool WaitUntilClosed() const;          // false when the window is still open after 20 s
    void WaitForBoxes(size_t count);       // until that many message boxes have been answered
    void Sync() const;  // returns after the window has handled what was posted to it before
    void Screenshot(const std::string& name) const;

    // Stands in for the device property sheet: remembers the code it was opened for and reports
    // result as the sheet's result word.
    static void FakePropertySheet(int result);
    static inline int sheetOpenedFor = 0;

    HWND window = nullptr;
    HWND tree = nullptr;

private:
    static inline int sheetResult = 0;
    static int RecordSheet(HWND, int code);
};

// Images of the tree, by name.
enum : int { kCard = 0, kCardOff = 1, kCardError = 2, kCardAbsent = 3, kPort = 4, kPortOff = 5, kPortError = 6, kPortAbsent = 7 };
