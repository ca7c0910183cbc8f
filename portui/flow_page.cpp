#include "flow_page.h"

#include <commctrl.h>

#include <initializer_list>

#include "level_fields.h"
#include "trackbar_field.h"

int FlowPage::Prepare(PortPageContext* context, void (*notifier)(PortPageContext*, int)) const
{
    if (!HasCapability(Descriptor(functionality::HighestUart(context->functionality)), capability_)) return 0;
    ReadStoredChoices(*context);
    SetActive(*context, HasCapability(StoredUart(context), capability_));
    Build(*context);
    RegisterNotifier(context, page_, notifier);
    return 1;
}

bool FlowPage::ComputeActive(const PortPageContext& context) const
{
    return context.flowControl == flowControl_ && HasCapability(StoredUart(&context), capability_);
}

// The two fields from their templates for the stored UART type, placed at their slots.
void FlowPage::Build(PortPageContext& context) const
{
    HWND window = Window(context);
    TrackbarField& on = On(context);
    TrackbarField& off = Off(context);
    on = LevelField(&context, onKind_, onIds_.lowLabel, onIds_.highLabel, onIds_.edit, onIds_.trackbar);
    off = LevelField(&context, offKind_, offIds_.lowLabel, offIds_.highLabel, offIds_.edit, offIds_.trackbar);
    on.dialog = off.dialog = window;
    const UartDescriptor* uart = StoredUart(&context);
    OnSlot(context) = SlotOf(uart, onKind_);
    OffSlot(context) = SlotOf(uart, offKind_);
    SetFixed(context, IsFixed(uart, onKind_), IsFixed(uart, offKind_));
    // The "on" level first; of pages sharing a slot, the first seed wins. A page whose levels are
    // not in use does not seed, but it fills a slot that nobody seeded since the UART type changed:
    // left alone, that slot holds a position for the type before (another kind's, or out of this
    // type's range), which the page would show and store once it becomes active.
    const bool seeds = Active(context) && LevelsUsable(context);
    for (const bool on : {true, false}) {
        if (on ? OnFixed(context) : OffFixed(context)) continue;
        const int kind = on ? onKind_ : offKind_;
        const int slot = on ? OnSlot(context) : OffSlot(context);
        const int position = PositionOf(uart, kind, Get16(context.portInfo, LevelOffset(kind)));
        if (seeds) SeedLevelSlot(&context, slot, position);
        else FillUnseededSlot(&context, slot, position);
    }
    on.maximum = MaximumPosition(uart, onKind_);
    off.maximum = MaximumPosition(uart, offKind_);
    PlaceField(&context, on, OnSlot(context), OnFixed(context));
    PlaceField(&context, off, OffSlot(context), OffFixed(context));
}

void FlowPage::Rebuild(PortPageContext& context) const
{
    Build(context);
    InitialiseField(On(context));
    InitialiseField(Off(context));
}

void FlowPage::UpdateControls(HWND window, PortPageContext& context) const
{
    UpdateOwnControls(window, context);
    const bool levels = Active(context) && LevelsUsable(context);
    EnableField(On(context), levels && !OnFixed(context));
    EnableField(Off(context), levels && !OffFixed(context));
}

uint16_t FlowPage::LevelToStore(PortPageContext& context, bool on) const
{
    return StoredLevel(StoredUart(&context), on ? onKind_ : offKind_, PositionForApply(on ? On(context) : Off(context)));
}

void FlowPage::HandleNotification(PortPageContext& context, int kind) const
{
    if (kind == kApply) {
        // Stored as the page would show it, whether or not its tab was ever opened.
        SetActive(context, ComputeActive(context));
        Store(context);
        PageApplied(&context, page_);
        return;
    }
    const bool wasActive = Active(context);
    SetActive(context, ComputeActive(context));
    if (kind == kReinitialise) {
        Rebuild(context);
    } else {
        // Shared and fixed levels follow their slots, also while the page has no dialog: that is
        // what it stores.
        if (OnSlot(context) >= 0) SetFieldPosition(On(context), context.levelSlots[OnSlot(context)]);
        if (OffSlot(context) >= 0) SetFieldPosition(Off(context), context.levelSlots[OffSlot(context)]);
        if (wasActive == Active(context)) return;
    }
    if (HWND window = Window(context)) UpdateControls(window, context);
}

void FlowPage::MoveLevel(PortPageContext& context, bool on, int position) const
{
    SetFieldPosition(on ? On(context) : Off(context), position);
    const int slot = on ? OnSlot(context) : OffSlot(context);
    if (slot >= 0) context.levelSlots[slot] = position;
}

// "On" never above "off". For Xon/Xoff the other level follows; for DTR and RTS an edited level
// gives way, while a moved trackbar takes the other level along.
void FlowPage::KeepOrder(PortPageContext& context, bool onChanged, bool offChanged, bool byTrackbar) const
{
    const int onPosition = On(context).position;
    const int offPosition = Off(context).position;
    if (offPosition >= onPosition) return;
    const bool moveOff = !OffFixed(context), moveOn = !OnFixed(context);
    if (otherLevelFollows_ || byTrackbar) {
        const bool offFirst = byTrackbar && !otherLevelFollows_;
        if (offFirst && offChanged) {
            if (moveOn) MoveLevel(context, true, offPosition);
        } else if (onChanged) {
            if (moveOff) MoveLevel(context, false, onPosition);
        } else if (offChanged && moveOn) {
            MoveLevel(context, true, offPosition);
        }
    } else if (onChanged) {
        if (moveOn) MoveLevel(context, true, offPosition);
    } else if (offChanged && moveOff) {
        MoveLevel(context, false, onPosition);
    }
}

void FlowPage::PublishAndRefresh(PortPageContext& context) const
{
    PublishField(&context, On(context), OnSlot(context), OnFixed(context));
    PublishField(&context, Off(context), OffSlot(context), OffFixed(context));
    Broadcast(&context, page_, kRefresh);
}

void FlowPage::OnCommand(HWND window, PortPageContext& context, int id, int notification) const
{
    TrackbarField& on = On(context);
    TrackbarField& off = Off(context);
    if (id == on.editId || id == off.editId) {
        const bool onEdited = id == on.editId;
        if (!HandleField(onEdited ? on : off, id, notification)) return;
        KeepOrder(context, onEdited, !onEdited, false);
        PublishAndRefresh(context);
        return;
    }
    if (OnOwnCommand(window, context, id, notification)) PublishAndRefresh(context);
}

void FlowPage::OnScroll(PortPageContext& context) const
{
    TrackbarField& on = On(context);
    TrackbarField& off = Off(context);
    const int onBefore = on.position, offBefore = off.position;
    HandleField(on, on.trackbarId, 0);
    HandleField(off, off.trackbarId, 0);
    KeepOrder(context, on.position != onBefore, off.position != offBefore, true);
    PublishAndRefresh(context);
}

INT_PTR FlowPage::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const
{
    INT_PTR result = FALSE;
    if (HandleCommonPageMessage(window, message, lParam, result)) return result;
    if (message == WM_INITDIALOG) {
        PortPageContext& context = *AttachContext(window, lParam);
        Window(context) = window;
        SetActive(context, ComputeActive(context));
        InitialiseOwnControls(window, context);
        Rebuild(context);
        UpdateControls(window, context);
        return TRUE;
    }
    PortPageContext* context = ContextOf(window);
    if (!context) return FALSE;
    switch (message) {
    case WM_COMMAND: OnCommand(window, *context, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL: OnScroll(*context); return TRUE;
    default: return FALSE;
    }
}
