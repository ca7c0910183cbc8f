// Page 5, "Auto Rts/Cts": the UART drives RTS by itself between the "RTS on" and "RTS off" levels
// and watches CTS.
#include <windows.h>

#include "flow_page.h"
#include "line_settings.h"
#include "pages.h"
#include "resource.h"
#include "uart_table.h"

namespace {

constexpr uint32_t kActive = 0x1, kRts = 0x2, kCts = 0x4, kOnFixed = 0x8, kOffFixed = 0x10;
constexpr uint16_t kCtsBit = 0x01, kRtsBit = 0x02;
constexpr unsigned kUart16750 = 5;

class RtsCts final : public FlowPage {
public:
    using FlowPage::FlowPage;

private:
    HWND& Window(PortPageContext& c) const override { return c.rtsCts.window; }
    TrackbarField& On(PortPageContext& c) const override { return c.rtsCts.on; }
    TrackbarField& Off(PortPageContext& c) const override { return c.rtsCts.off; }
    int32_t& OnSlot(PortPageContext& c) const override { return c.rtsCts.onSlot; }
    int32_t& OffSlot(PortPageContext& c) const override { return c.rtsCts.offSlot; }
    bool Active(const PortPageContext& c) const override { return c.rtsCts.flags & kActive; }
    void SetActive(PortPageContext& c, bool active) const override { Set(c, kActive, active); }
    bool OnFixed(const PortPageContext& c) const override { return c.rtsCts.flags & kOnFixed; }
    bool OffFixed(const PortPageContext& c) const override { return c.rtsCts.flags & kOffFixed; }
    void SetFixed(PortPageContext& c, bool on, bool off) const override
    {
        Set(c, kOnFixed, on);
        Set(c, kOffFixed, off);
    }
    bool LevelsUsable(const PortPageContext& c) const override { return c.rtsCts.flags & kRts; }

    static void Set(PortPageContext& c, uint32_t bit, bool on)
    {
        c.rtsCts.flags = (c.rtsCts.flags & ~bit) | (on ? bit : 0);
    }

    void ReadStoredChoices(PortPageContext& c) const override
    {
        const uint16_t flags = Get16(c.portInfo, portinfo::kFlowFlags);
        Set(c, kRts, flags & kRtsBit);
        Set(c, kCts, flags & kCtsBit);
    }

    void InitialiseOwnControls(HWND, PortPageContext&) const override {}

    void UpdateOwnControls(HWND window, PortPageContext& c) const override
    {
        const bool active = Active(c);
        EnableWindow(GetDlgItem(window, IDC_FLOW_FIRST), active);
        EnableWindow(GetDlgItem(window, IDC_FLOW_SECOND), active);
        CheckDlgButton(window, IDC_FLOW_FIRST, (c.rtsCts.flags & kRts) ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(window, IDC_FLOW_SECOND, (c.rtsCts.flags & kCts) ? BST_CHECKED : BST_UNCHECKED);
    }

    bool OnOwnCommand(HWND window, PortPageContext& c, int id, int notification) const override
    {
        if (notification != BN_CLICKED) return false;
        const bool checked = IsDlgButtonChecked(window, id) == BST_CHECKED;
        if (id == IDC_FLOW_SECOND) {
            Set(c, kCts, checked);
            return false;
        }
        if (id != IDC_FLOW_FIRST) return false;
        const bool changed = checked != ((c.rtsCts.flags & kRts) != 0);
        Set(c, kRts, checked);
        // The 16750 watches CTS whenever it drives RTS.
        if (checked && (Get16(c.portInfo, portinfo::kUartWord) & 0xFF) == kUart16750) Set(c, kCts, true);
        UpdateControls(window, c);
        return changed;
    }

    void Store(PortPageContext& c) const override
    {
        uint16_t flags = Get16(c.portInfo, portinfo::kFlowFlags) & ~(kCtsBit | kRtsBit);
        Put16(c.portInfo, portinfo::kRtsOnLevel, 0);
        Put16(c.portInfo, portinfo::kRtsOffLevel, 0);
        if (Active(c)) {
            if (c.rtsCts.flags & kCts) flags |= kCtsBit;
            if (c.rtsCts.flags & kRts) {
                flags |= kRtsBit;
                Put16(c.portInfo, portinfo::kRtsOffLevel, LevelToStore(c, false));
                Put16(c.portInfo, portinfo::kRtsOnLevel, LevelToStore(c, true));
            }
        }
        Put16(c.portInfo, portinfo::kFlowFlags, flags);
    }
};

const RtsCts kRtsCts(5, kAutoRtsCts, kFlowHardware, kRtsOnLevel, kRtsOffLevel,
                     {IDC_ON_LEVEL_LOW, IDC_ON_LEVEL_HIGH, IDC_ON_LEVEL_EDIT, IDC_ON_LEVEL_BAR},
                     {IDC_OFF_LEVEL_LOW, IDC_OFF_LEVEL_HIGH, IDC_OFF_LEVEL_EDIT, IDC_OFF_LEVEL_BAR}, false);

void Notify(PortPageContext* context, int kind)
{
    kRtsCts.HandleNotification(*context, kind);
}

}  // namespace

int PrepareRtsCtsPage(PortPageContext* context)
{
    return kRtsCts.Prepare(context, Notify);
}

INT_PTR CALLBACK RtsCtsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return kRtsCts.Procedure(page, message, wParam, lParam);
}
