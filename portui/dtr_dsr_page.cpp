// Page 4, "Auto Dtr/Dsr": how the UART drives DTR by itself (disabled, triggered by the "DTR on"
// and "DTR off" levels, or RS485 direction control) and whether it watches DSR.
#include <windows.h>

#include "flow_page.h"
#include "line_settings.h"
#include "pages.h"
#include "resource.h"
#include "settings_store.h"
#include "uart_table.h"

namespace {

constexpr uint32_t kActive = 0x1, kKindMask = 0x6, kDsr = 0x8, kOnFixed = 0x10, kOffFixed = 0x20;
constexpr int kKindShift = 1;
constexpr uint32_t kTriggered = 1;
constexpr int kKinds = 4;
constexpr uint16_t kDsrBit = 0x04, kDtrKindBits = 0x18;
constexpr int kDtrKindShift = 3;

uint32_t KindOf(const DtrDsrPage& page)
{
    return (page.flags & kKindMask) >> kKindShift;
}

class DtrDsr final : public FlowPage {
public:
    using FlowPage::FlowPage;

private:
    HWND& Window(PortPageContext& c) const override { return c.dtrDsr.window; }
    TrackbarField& On(PortPageContext& c) const override { return c.dtrDsr.on; }
    TrackbarField& Off(PortPageContext& c) const override { return c.dtrDsr.off; }
    int32_t& OnSlot(PortPageContext& c) const override { return c.dtrDsr.onSlot; }
    int32_t& OffSlot(PortPageContext& c) const override { return c.dtrDsr.offSlot; }
    bool Active(const PortPageContext& c) const override { return c.dtrDsr.flags & kActive; }
    void SetActive(PortPageContext& c, bool active) const override
    {
        c.dtrDsr.flags = (c.dtrDsr.flags & ~kActive) | (active ? kActive : 0);
    }
    bool OnFixed(const PortPageContext& c) const override { return c.dtrDsr.flags & kOnFixed; }
    bool OffFixed(const PortPageContext& c) const override { return c.dtrDsr.flags & kOffFixed; }
    void SetFixed(PortPageContext& c, bool on, bool off) const override
    {
        c.dtrDsr.flags = (c.dtrDsr.flags & ~(kOnFixed | kOffFixed)) | (on ? kOnFixed : 0) | (off ? kOffFixed : 0);
    }
    bool LevelsUsable(const PortPageContext& c) const override { return KindOf(c.dtrDsr) == kTriggered; }

    void ReadStoredChoices(PortPageContext& c) const override
    {
        const uint16_t flags = Get16(c.portInfo, portinfo::kFlowFlags);
        const uint32_t kind = (flags & kDtrKindBits) >> kDtrKindShift;
        c.dtrDsr.flags = (c.dtrDsr.flags & ~(kKindMask | kDsr)) | (kind << kKindShift) | ((flags & kDsrBit) ? kDsr : 0);
    }

    void InitialiseOwnControls(HWND window, PortPageContext&) const override
    {
        for (int kind = 0; kind < kKinds; ++kind) {
            wchar_t text[32] = {};
            LoadStringW(ProviderInstance, IDS_DTR_KIND_FIRST + kind, text, 32);
            SendDlgItemMessageW(window, IDC_FLOW_FIRST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        }
    }

    void UpdateOwnControls(HWND window, PortPageContext& c) const override
    {
        const bool active = Active(c);
        EnableWindow(GetDlgItem(window, IDC_FLOW_FIRST), active);
        EnableWindow(GetDlgItem(window, IDC_FLOW_SECOND), active);
        SendDlgItemMessageW(window, IDC_FLOW_FIRST, CB_SETCURSEL, KindOf(c.dtrDsr), 0);
        CheckDlgButton(window, IDC_FLOW_SECOND, (c.dtrDsr.flags & kDsr) ? BST_CHECKED : BST_UNCHECKED);
    }

    bool OnOwnCommand(HWND window, PortPageContext& c, int id, int notification) const override
    {
        if (id == IDC_FLOW_SECOND && notification == BN_CLICKED) {
            const bool on = IsDlgButtonChecked(window, IDC_FLOW_SECOND) == BST_CHECKED;
            c.dtrDsr.flags = (c.dtrDsr.flags & ~kDsr) | (on ? kDsr : 0);
            return false;
        }
        if (id != IDC_FLOW_FIRST) return false;
        const LRESULT selected = SendDlgItemMessageW(window, IDC_FLOW_FIRST, CB_GETCURSEL, 0, 0);
        if (selected < 0) return false;
        const uint32_t kind = static_cast<uint32_t>(selected) & 3;
        const bool changed = kind != KindOf(c.dtrDsr);
        c.dtrDsr.flags = (c.dtrDsr.flags & ~kKindMask) | (kind << kKindShift);
        UpdateControls(window, c);
        return changed;
    }

    void Store(PortPageContext& c) const override
    {
        uint16_t flags = Get16(c.portInfo, portinfo::kFlowFlags) & ~(kDsrBit | kDtrKindBits);
        Put16(c.portInfo, portinfo::kDtrOnLevel, 0);
        Put16(c.portInfo, portinfo::kDtrOffLevel, 0);
        if (Active(c)) {
            if (c.dtrDsr.flags & kDsr) flags |= kDsrBit;
            flags |= static_cast<uint16_t>(KindOf(c.dtrDsr) << kDtrKindShift);
            if (KindOf(c.dtrDsr) == kTriggered) {
                Put16(c.portInfo, portinfo::kDtrOffLevel, LevelToStore(c, false));
                Put16(c.portInfo, portinfo::kDtrOnLevel, LevelToStore(c, true));
            }
        }
        Put16(c.portInfo, portinfo::kFlowFlags, flags);
    }
};

const DtrDsr kDtrDsr(4, kAutoDtrDsr, kFlowHardware, kDtrOnLevel, kDtrOffLevel,
                     {IDC_ON_LEVEL_LOW, IDC_ON_LEVEL_HIGH, IDC_ON_LEVEL_EDIT, IDC_ON_LEVEL_BAR},
                     {IDC_OFF_LEVEL_LOW, IDC_OFF_LEVEL_HIGH, IDC_OFF_LEVEL_EDIT, IDC_OFF_LEVEL_BAR}, false);

void Notify(PortPageContext* context, int kind)
{
    kDtrDsr.HandleNotification(*context, kind);
}

}  // namespace

int PrepareDtrDsrPage(PortPageContext* context)
{
    return kDtrDsr.Prepare(context, Notify);
}

INT_PTR CALLBACK DtrDsrPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    return kDtrDsr.Procedure(page, message, wParam, lParam);
}
