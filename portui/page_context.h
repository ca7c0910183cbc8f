// The context that all pages of one port's property sheet share: the port's settings as loaded,
// each page's state, the notifiers between pages and the level slots.
#pragma once

#include <windows.h>

#include <cstdint>

#include "clock_options.h"
#include "port_records.h"

struct PortPageContext;

// Position -> text (false: leave the edit as it is); text -> position (negative: invalid).
using FormatConversion = bool (*)(const PortPageContext* owner, int position, char* text, size_t chars);
using ParseConversion = int (*)(const PortPageContext* owner, const char* text);

// A level edited with a trackbar, an edit box beside it and two labels for the lowest and highest
// value.
struct TrackbarField {
    int32_t lowLabelId, highLabelId, editId, trackbarId;  // -1 = none
    int32_t maximum;                                       // 0 = no range
    HWND dialog;
    uint32_t state;  // bit 0 disabled
    int32_t position;
    PortPageContext* owner;
    FormatConversion format;
    ParseConversion parse;
};

constexpr uint32_t kFieldDisabled = 0x1;

enum NotificationKind : int { kRefresh = 0, kReinitialise = 1, kApply = 2 };

struct PageNotifier {
    void (*notify)(PortPageContext* context, int kind);
    int32_t applied;
};

constexpr int kPageCount = 6;        // pages 0-5 of the page table
constexpr int kNotifierCount = 7;
constexpr int kEveryPage = 7;        // broadcast sender that reaches every page
constexpr int kLevelSlotCount = 16;
constexpr int kPortNameChars = 128;

struct AdvancedPage {
    HWND window;
    uint32_t flags;  // bit 0 memory access, bits 1-3 receive trigger / transmit trigger / buffer fixed
    int32_t receiveTriggerSlot, transmitTriggerSlot, transmitBufferSlot;
    TrackbarField receiveTrigger, transmitTrigger, transmitBuffer;
};

struct DtrDsrPage {
    HWND window;
    uint32_t flags;  // bit 0 active, bits 1-2 control kind, bit 3 DSR, bits 4-5 on/off fixed
    int32_t onSlot, offSlot;
    TrackbarField on, off;
};

struct RtsCtsPage {
    HWND window;
    uint32_t flags;  // bit 0 active, bit 1 RTS, bit 2 CTS, bits 3-4 on/off fixed
    int32_t onSlot, offSlot;
    TrackbarField on, off;
};

struct XonXoffPage {
    HWND window;
    int32_t active;
    uint32_t transmitFlags;  // bit 0 enabled
    uint8_t transmitXon, transmitXoff;
    uint32_t receiveFlags;  // bit 0 enabled, bits 1-2 Xon/Xoff level fixed
    uint8_t receiveXon, receiveXoff;
    int32_t xonSlot, xoffSlot;
    TrackbarField xonLevel, xoffLevel;
};

struct SoftwarePage {
    HWND window;
    uint8_t overspeed;
    int32_t useFastRx;
    TrackbarField overspeedField;
};

struct MoreHardwareDialog {
    HWND window;
    uint8_t enableCksPresent;
    uint8_t cks;
    uint8_t enableCks;
    uint8_t enableCksWhenOpened;
    ClockOptions clock;
};

struct PortPageContext {
    HWND settingsPage;
    int32_t settingsLoaded;
    int32_t baudRate;
    uint8_t dataBits, parity, stopBits, flowControl;
    AdvancedPage advanced;
    DtrDsrPage dtrDsr;
    RtsCtsPage rtsCts;
    XonXoffPage xonXoff;
    SoftwarePage software;
    MoreHardwareDialog moreHardware;
    wchar_t portName[kPortNameChars];
    int32_t referenceCount;
    uint8_t functionality[kFunctionalityBytes];
    uint8_t portInfo[kPortInfoBytes];
    uint8_t compInfo[kCompInfoBytes];
    PageNotifier notifiers[kNotifierCount];
    int32_t levelSlots[kLevelSlotCount];
    uint8_t slotMask;
    int32_t loadResult;
    wchar_t* keyPath;
    uint32_t* result;
    // 1 once an apply round wrote the settings (or failed to), 2 once the round's end is posted; the
    // applied flags are cleared when it arrives, so that later changes are written by the next
    // Apply or OK.
    int32_t writtenInRound;
};

// Between pages.
void RegisterNotifier(PortPageContext* context, int page, void (*notify)(PortPageContext*, int));
void Broadcast(PortPageContext* context, int sender, int kind);
void PageApplied(PortPageContext* context, int page);

// Dialog procedures of the pages keep the context as their user data.
inline PortPageContext* ContextOf(HWND page)
{
    return reinterpret_cast<PortPageContext*>(GetWindowLongPtrW(page, DWLP_USER));
}

// Messages every page handles alike: WM_NOTIFY (PSN_APPLY tells all pages to apply; every
// notification gets 0) and the end of an apply round. True when message was one of them.
bool HandleCommonPageMessage(HWND page, UINT message, LPARAM lParam, INT_PTR& result);

// WM_INITDIALOG of a page: the context from the page's parameter, kept as the dialog's user data.
PortPageContext* AttachContext(HWND page, LPARAM initParam);
