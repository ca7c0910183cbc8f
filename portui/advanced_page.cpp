// Page 1, "Advanced": the UART type, memory access and the three FIFO levels; "More >>" opens the
// clock options of the 16950.
#include <windows.h>
#include <commctrl.h>

#include "level_fields.h"
#include "more_hardware.h"
#include "pages.h"
#include "resource.h"
#include "settings_store.h"
#include "trackbar_field.h"

namespace {

constexpr int kPage = 1;
constexpr uint32_t kMemoryAccessChosen = 0x1;
constexpr uint32_t kReceiveFixed = 0x2, kTransmitFixed = 0x4, kBufferFixed = 0x8;
constexpr uint16_t kUart16950 = 7;

// The three fields with their kind, slot and fixed bit.
struct Level {
    TrackbarField AdvancedPage::*field;
    int32_t AdvancedPage::*slot;
    int kind;
    uint32_t fixedBit;
};

const Level kLevels[] = {
    {&AdvancedPage::receiveTrigger, &AdvancedPage::receiveTriggerSlot, kReceiveTrigger, kReceiveFixed},
    {&AdvancedPage::transmitTrigger, &AdvancedPage::transmitTriggerSlot, kTransmitTrigger, kTransmitFixed},
    {&AdvancedPage::transmitBuffer, &AdvancedPage::transmitBufferSlot, kTransmitBuffer, kBufferFixed},
};

uint16_t UartWord(const PortPageContext* context)
{
    return Get16(context->portInfo, portinfo::kUartWord);
}

bool MemoryAccessOffered(const PortPageContext* context)
{
    return (Get16(context->functionality, functionality::kFlags) & functionality::kMemoryAccess) != 0;
}

void CopyTemplates(PortPageContext* context)
{
    AdvancedPage& page = context->advanced;
    page.receiveTrigger = LevelField(context, kReceiveTrigger, IDC_RX_TRIGGER_LOW, IDC_RX_TRIGGER_HIGH,
                                     IDC_RX_TRIGGER_EDIT, IDC_RX_TRIGGER_BAR);
    page.transmitTrigger = LevelField(context, kTransmitTrigger, IDC_TX_TRIGGER_LOW, IDC_TX_TRIGGER_HIGH,
                                      IDC_TX_TRIGGER_EDIT, IDC_TX_TRIGGER_BAR);
    page.transmitBuffer = LevelField(context, kTransmitBuffer, IDC_TX_BUFFER_LOW, IDC_TX_BUFFER_HIGH,
                                     IDC_TX_BUFFER_EDIT, IDC_TX_BUFFER_BAR);
    for (const Level& level : kLevels) (page.*level.field).dialog = page.window;
}

// Slots, fixed flags, seeds, maxima and positions of the three fields for the stored UART type.
void BuildFields(PortPageContext* context)
{
    AdvancedPage& page = context->advanced;
    const UartDescriptor* uart = StoredUart(context);
    page.flags &= kMemoryAccessChosen;
    for (const Level& level : kLevels) {
        (page.*level.field).state &= ~kFieldDisabled;
        page.*level.slot = SlotOf(uart, level.kind);
        if (IsFixed(uart, level.kind)) page.flags |= level.fixedBit;
    }
    // The transmit buffer is seeded first.
    if (!(page.flags & kBufferFixed))
        SeedLevelSlot(context, page.transmitBufferSlot, Get16(context->portInfo, portinfo::kTransmitBuffer) - 1);
    for (int trigger = 0; trigger < 2; ++trigger) {
        const Level& level = kLevels[trigger];
        if (!(page.flags & level.fixedBit))
            SeedLevelSlot(context, page.*level.slot,
                          PositionOf(uart, level.kind, Get16(context->portInfo, LevelOffset(level.kind))));
    }
    page.receiveTrigger.maximum = MaximumPosition(uart, kReceiveTrigger);
    page.transmitTrigger.maximum = MaximumPosition(uart, kTransmitTrigger);
    page.transmitBuffer.maximum = uart && uart->fifoSize ? uart->fifoSize - 1 : 0;
    for (const Level& level : kLevels)
        PlaceField(context, page.*level.field, page.*level.slot, (page.flags & level.fixedBit) != 0);
}

void InitialiseFields(PortPageContext* context)
{
    for (const Level& level : kLevels) InitialiseField(context->advanced.*level.field);
}

void Publish(PortPageContext* context)
{
    AdvancedPage& page = context->advanced;
    for (const Level& level : kLevels)
        PublishField(context, page.*level.field, page.*level.slot, (page.flags & level.fixedBit) != 0);
}

void PublishAndRefresh(PortPageContext* context)
{
    Publish(context);
    Broadcast(context, kPage, kRefresh);
}

void EnableMore(HWND window, const PortPageContext* context)
{
    EnableWindow(GetDlgItem(window, IDC_MORE),
                 context->moreHardware.enableCksPresent && UartWord(context) == kUart16950);
}

void FillUartList(HWND window, const PortPageContext* context)
{
    const unsigned highest = functionality::HighestUart(context->functionality);
    const unsigned stored = UartWord(context) & 0xFF;
    int selected = 0;
    for (unsigned type = 1; type < kUartTypes && type <= highest; ++type) {
        wchar_t name[32] = {};
        MultiByteToWideChar(CP_ACP, 0, Descriptor(type)->name, -1, name, 32);
        const auto item = static_cast<int>(SendDlgItemMessageW(window, IDC_UART_TYPE, CB_ADDSTRING, 0,
                                                               reinterpret_cast<LPARAM>(name)));
        SendDlgItemMessageW(window, IDC_UART_TYPE, CB_SETITEMDATA, item, type);
        if (type == stored) selected = item;
    }
    SendDlgItemMessageW(window, IDC_UART_TYPE, CB_SETCURSEL, selected, 0);
}

void ChangeUartType(HWND window, PortPageContext* context, uint16_t type)
{
    if (type == UartWord(context)) return;
    context->slotMask = 0;
    Put16(context->portInfo, portinfo::kUartWord, type);  // memory access is set again on Apply
    BuildFields(context);
    InitialiseFields(context);
    EnableMore(window, context);
    Broadcast(context, kPage, kReinitialise);
}

void OnInitDialog(HWND window, PortPageContext* context)
{
    AdvancedPage& page = context->advanced;
    page.window = window;
    for (const Level& level : kLevels) (page.*level.field).dialog = window;
    FillUartList(window, context);
    EnableMore(window, context);
    const bool offered = MemoryAccessOffered(context);
    EnableWindow(GetDlgItem(window, IDC_MEMORY_ACCESS), offered);
    if (offered)
        CheckDlgButton(window, IDC_MEMORY_ACCESS, (page.flags & kMemoryAccessChosen) ? BST_CHECKED : BST_UNCHECKED);
    BuildFields(context);
    InitialiseFields(context);
}

void OnCommand(HWND window, PortPageContext* context, int id, int notification)
{
    AdvancedPage& page = context->advanced;
    bool changed = false;
    switch (id) {
    case IDC_RX_TRIGGER_EDIT:
    case IDC_TX_TRIGGER_EDIT:
    case IDC_TX_BUFFER_EDIT:
        for (const Level& level : kLevels) changed |= HandleField(page.*level.field, id, notification);
        break;
    case IDC_MEMORY_ACCESS:
        if (MemoryAccessOffered(context)) {
            const uint32_t old = page.flags;
            if (IsDlgButtonChecked(window, IDC_MEMORY_ACCESS) == BST_CHECKED) page.flags |= kMemoryAccessChosen;
            else page.flags &= ~kMemoryAccessChosen;
            changed = old != page.flags;
        }
        break;
    case IDC_UART_TYPE:
        if (notification == CBN_SELENDOK) {
            const LRESULT item = SendDlgItemMessageW(window, IDC_UART_TYPE, CB_GETCURSEL, 0, 0);
            if (item >= 0)
                ChangeUartType(window, context,
                               static_cast<uint16_t>(SendDlgItemMessageW(window, IDC_UART_TYPE, CB_GETITEMDATA, item, 0)));
        }
        break;
    case IDC_MORE:
        if (notification == BN_CLICKED) RunMoreHardwareSettings(window, context);
        break;
    default: break;
    }
    if (changed) PublishAndRefresh(context);
}

void OnScroll(PortPageContext* context)
{
    AdvancedPage& page = context->advanced;
    for (const Level& level : kLevels) HandleField(page.*level.field, (page.*level.field).trackbarId, 0);
    PublishAndRefresh(context);
}

void Apply(PortPageContext* context)
{
    AdvancedPage& page = context->advanced;
    const UartDescriptor* uart = StoredUart(context);
    if (MemoryAccessOffered(context)) {
        uint16_t word = UartWord(context);
        if (page.flags & kMemoryAccessChosen) word |= portinfo::kMemoryAccessBit;
        else word &= ~portinfo::kMemoryAccessBit;
        Put16(context->portInfo, portinfo::kUartWord, word);
    }
    uint16_t receive = 0, transmit = 0, buffer = 1;
    if (!(page.receiveTrigger.state & kFieldDisabled)) {
        receive = StoredLevel(uart, kReceiveTrigger, PositionForApply(page.receiveTrigger));
        if (receive == 0) receive = 1;
    }
    if (!(page.transmitTrigger.state & kFieldDisabled))
        transmit = StoredLevel(uart, kTransmitTrigger, PositionForApply(page.transmitTrigger));
    if (!(page.transmitBuffer.state & kFieldDisabled)) {
        buffer = static_cast<uint16_t>(PositionForApply(page.transmitBuffer) + 1);
        if (buffer == 0) buffer = 1;
    }
    Put16(context->portInfo, portinfo::kReceiveTrigger, receive);
    Put16(context->portInfo, portinfo::kTransmitTrigger, transmit);
    Put16(context->portInfo, portinfo::kTransmitBuffer, buffer);
}

void Notify(PortPageContext* context, int kind)
{
    if (kind != kApply) return;
    Apply(context);
    PageApplied(context, kPage);
}

}  // namespace

int PrepareAdvancedPage(PortPageContext* context)
{
    if (Get16(context->functionality, functionality::kHighestUart) == 0)
        Put16(context->functionality, functionality::kHighestUart, functionality::kDefaultHighestUart);
    if (!StoredUart(context)) return 0;
    AdvancedPage& page = context->advanced;
    if (MemoryAccessOffered(context) && (UartWord(context) & portinfo::kMemoryAccessBit))
        page.flags |= kMemoryAccessChosen;
    CopyTemplates(context);
    DecodeClockOptions(context);
    BuildFields(context);
    RegisterNotifier(context, kPage, Notify);
    return 1;
}

INT_PTR CALLBACK AdvancedPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = FALSE;
    if (HandleCommonPageMessage(window, message, lParam, result)) return result;
    if (message == WM_INITDIALOG) {
        OnInitDialog(window, AttachContext(window, lParam));
        return TRUE;
    }
    PortPageContext* context = ContextOf(window);
    if (!context) return FALSE;
    switch (message) {
    case WM_COMMAND: OnCommand(window, context, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL: OnScroll(context); return TRUE;
    default: return FALSE;
    }
}
