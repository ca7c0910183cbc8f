// Page 3, "Auto Xon/Xoff": the UART's own Xon/Xoff flow control, its characters and, for the
// receive side, the Xon and Xoff levels.
#include <windows.h>

#include "flow_page.h"
#include "level_fields.h"
#include "line_settings.h"
#include "number_text.h"
#include "pages.h"
#include "resource.h"
#include "uart_table.h"

namespace {

constexpr uint32_t kEnabled = 0x1, kXonFixed = 0x2, kXoffFixed = 0x4;
constexpr uint16_t kTransmitBit = 0x20, kReceiveBit = 0x40;
constexpr uint8_t kXon = 17, kXoff = 19;  // DC1, DC3
constexpr int kCharacterChars = 19;

// The four character edits and where each keeps its character.
struct Character {
    int edit;
    uint8_t XonXoffPage::*field;
    size_t offset;
    uint8_t fallback;
};

const Character kCharacters[] = {
    {IDC_XON_TX_XON, &XonXoffPage::transmitXon, portinfo::kTransmitXon, kXon},
    {IDC_XON_TX_XOFF, &XonXoffPage::transmitXoff, portinfo::kTransmitXoff, kXoff},
    {IDC_XON_RX_XON, &XonXoffPage::receiveXon, portinfo::kReceiveXon, kXon},
    {IDC_XON_RX_XOFF, &XonXoffPage::receiveXoff, portinfo::kReceiveXoff, kXoff},
};

bool Checked(HWND window, int id)
{
    return IsDlgButtonChecked(window, id) == BST_CHECKED;
}

class XonXoff final : public FlowPage {
public:
    using FlowPage::FlowPage;

private:
    HWND& Window(PortPageContext& c) const override { return c.xonXoff.window; }
    TrackbarField& On(PortPageContext& c) const override { return c.xonXoff.xonLevel; }
    TrackbarField& Off(PortPageContext& c) const override { return c.xonXoff.xoffLevel; }
    int32_t& OnSlot(PortPageContext& c) const override { return c.xonXoff.xonSlot; }
    int32_t& OffSlot(PortPageContext& c) const override { return c.xonXoff.xoffSlot; }
    bool Active(const PortPageContext& c) const override { return c.xonXoff.active != 0; }
    void SetActive(PortPageContext& c, bool active) const override { c.xonXoff.active = active; }
    bool OnFixed(const PortPageContext& c) const override { return c.xonXoff.receiveFlags & kXonFixed; }
    bool OffFixed(const PortPageContext& c) const override { return c.xonXoff.receiveFlags & kXoffFixed; }
    void SetFixed(PortPageContext& c, bool on, bool off) const override
    {
        c.xonXoff.receiveFlags = (c.xonXoff.receiveFlags & kEnabled) | (on ? kXonFixed : 0) | (off ? kXoffFixed : 0);
    }
    bool LevelsUsable(const PortPageContext& c) const override { return c.xonXoff.receiveFlags & kEnabled; }

    void ReadStoredChoices(PortPageContext& c) const override
    {
        XonXoffPage& page = c.xonXoff;
        const uint16_t flags = Get16(c.portInfo, portinfo::kFlowFlags);
        page.transmitFlags = (flags & kTransmitBit) ? kEnabled : 0;
        page.receiveFlags = (page.receiveFlags & ~kEnabled) | ((flags & kReceiveBit) ? kEnabled : 0);
        for (const Character& character : kCharacters) {
            const uint8_t stored = c.portInfo[character.offset];
            page.*character.field = stored ? stored : character.fallback;
        }
    }

    void InitialiseOwnControls(HWND window, PortPageContext& c) const override
    {
        for (const Character& character : kCharacters) SetNumberText(window, character.edit, c.xonXoff.*character.field);
    }

    void UpdateOwnControls(HWND window, PortPageContext& c) const override
    {
        const XonXoffPage& page = c.xonXoff;
        const bool active = page.active != 0;
        const bool transmit = page.transmitFlags & kEnabled, receive = page.receiveFlags & kEnabled;
        EnableWindow(GetDlgItem(window, IDC_XON_TX_ENABLE), active);
        EnableWindow(GetDlgItem(window, IDC_XON_RX_ENABLE), active);
        CheckDlgButton(window, IDC_XON_TX_ENABLE, transmit ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(window, IDC_XON_RX_ENABLE, receive ? BST_CHECKED : BST_UNCHECKED);
        for (const Character& character : kCharacters) {
            const bool transmitSide = character.offset < portinfo::kReceiveXon;
            EnableWindow(GetDlgItem(window, character.edit), active && (transmitSide ? transmit : receive));
        }
    }

    bool TakeEnable(HWND window, PortPageContext& c, int id, uint32_t& flags) const
    {
        const uint32_t old = flags;
        flags = (flags & ~kEnabled) | (Checked(window, id) ? kEnabled : 0);
        UpdateControls(window, c);
        return flags != old;
    }

    bool OnOwnCommand(HWND window, PortPageContext& c, int id, int notification) const override
    {
        if (id == IDC_XON_TX_ENABLE && notification == BN_CLICKED)
            return TakeEnable(window, c, id, c.xonXoff.transmitFlags);
        if (id == IDC_XON_RX_ENABLE && notification == BN_CLICKED)
            return TakeEnable(window, c, id, c.xonXoff.receiveFlags);
        if (notification != EN_KILLFOCUS) return false;
        for (const Character& character : kCharacters) {
            if (character.edit != id) continue;
            char text[kCharacterChars + 1] = {};
            GetDlgItemTextA(window, id, text, sizeof text);
            bool found = false;
            const int32_t number = LeadingInteger(text, kCharacterChars, found);
            if (!found || number == 0) return false;  // the typed text stays; the character too
            const auto value = static_cast<uint8_t>(number);
            const bool changed = value != c.xonXoff.*character.field;
            c.xonXoff.*character.field = value;
            return changed;
        }
        return false;
    }

    void Store(PortPageContext& c) const override
    {
        XonXoffPage& page = c.xonXoff;
        uint16_t flags = Get16(c.portInfo, portinfo::kFlowFlags) & ~(kTransmitBit | kReceiveBit);
        for (const Character& character : kCharacters) c.portInfo[character.offset] = 0;
        Put16(c.portInfo, portinfo::kXonLevel, 0);
        Put16(c.portInfo, portinfo::kXoffLevel, 0);
        if (page.active && (page.transmitFlags & kEnabled)) {
            flags |= kTransmitBit;
            c.portInfo[portinfo::kTransmitXon] = page.transmitXon;
            c.portInfo[portinfo::kTransmitXoff] = page.transmitXoff;
        }
        if (page.active && (page.receiveFlags & kEnabled)) {
            flags |= kReceiveBit;
            c.portInfo[portinfo::kReceiveXon] = page.receiveXon;
            c.portInfo[portinfo::kReceiveXoff] = page.receiveXoff;
            Put16(c.portInfo, portinfo::kXoffLevel, LevelToStore(c, false));
            Put16(c.portInfo, portinfo::kXonLevel, LevelToStore(c, true));
        }
        Put16(c.portInfo, portinfo::kFlowFlags, flags);
    }
};

const XonXoff kXonXoff(3, kAutoXonXoff, kFlowXonXoff, kXonLevel, kXoffLevel,
                       {IDC_XON_LEVEL_LOW, IDC_XON_LEVEL_HIGH, IDC_XON_LEVEL_EDIT, IDC_XON_LEVEL_BAR},
                       {IDC_XOFF_LEVEL_LOW, IDC_XOFF_LEVEL_HIGH, IDC_XOFF_LEVEL_EDIT, IDC_XOFF_LEVEL_BAR}, true);

void Notify(PortPageContext* context, int kind)
{
    kXonXoff.HandleNotification(*context, kind);
}

}  // namespace

int PrepareXonXoffPage(PortPageContext* context)
{
    return kXonXoff.Prepare(context, Notify);
}

INT_PTR CALLBACK XonXoffPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return kXonXoff.Procedure(page, message, wParam, lParam);
}
