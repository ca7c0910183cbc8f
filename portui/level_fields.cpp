#include "level_fields.h"

#include <cwchar>

#include "level_text.h"
#include "runtime/format.h"
#include "trackbar_field.h"

namespace {

template <int Kind>
bool FormatKind(const PortPageContext* owner, int position, char* text, size_t chars)
{
    return FormatLevel(StoredUart(owner), Kind, position, text, chars);
}

template <int Kind>
int ParseKind(const PortPageContext* owner, const char* text)
{
    return ParseLevel(StoredUart(owner), Kind, text);
}

bool FormatBuffer(const PortPageContext*, int position, char* text, size_t chars)
{
    return FormatTransmitBuffer(position, text, chars);
}

int ParseBuffer(const PortPageContext*, const char* text)
{
    return ParseTransmitBuffer(text);
}

struct Conversions {
    FormatConversion format;
    ParseConversion parse;
};

const Conversions kConversions[kLevelKinds] = {
    {FormatKind<0>, ParseKind<0>}, {FormatKind<1>, ParseKind<1>}, {FormatKind<2>, ParseKind<2>},
    {FormatKind<3>, ParseKind<3>}, {FormatKind<4>, ParseKind<4>}, {FormatKind<5>, ParseKind<5>},
    {FormatKind<6>, ParseKind<6>}, {FormatKind<7>, ParseKind<7>}, {FormatBuffer, ParseBuffer},
};

const size_t kLevelOffsets[kLevelKinds] = {
    portinfo::kReceiveTrigger, portinfo::kTransmitTrigger, portinfo::kXonLevel,
    portinfo::kXoffLevel,      portinfo::kRtsOnLevel,      portinfo::kRtsOffLevel,
    portinfo::kDtrOnLevel,     portinfo::kDtrOffLevel,     portinfo::kTransmitBuffer,
};

}  // namespace

const UartDescriptor* StoredUart(const PortPageContext* context)
{
    return Descriptor(Get16(context->portInfo, portinfo::kUartWord));
}

size_t LevelOffset(int kind)
{
    return kLevelOffsets[kind];
}

TrackbarField LevelField(PortPageContext* context, int kind, int lowLabel, int highLabel, int edit, int trackbar)
{
    TrackbarField field = {};
    field.lowLabelId = lowLabel;
    field.highLabelId = highLabel;
    field.editId = edit;
    field.trackbarId = trackbar;
    field.owner = context;
    field.format = kConversions[kind].format;
    field.parse = kConversions[kind].parse;
    return field;
}

void SeedLevelSlot(PortPageContext* context, int slot, int position)
{
    SeedSlot(context->levelSlots, context->slotMask, slot, position);
}

void FillUnseededSlot(PortPageContext* context, int slot, int position)
{
    if (slot >= 0 && slot < 8 && !(context->slotMask & (1u << slot))) context->levelSlots[slot] = position;
}

void PlaceField(PortPageContext* context, TrackbarField& field, int slot, bool fixed)
{
    if (slot < 0 || fixed) field.state |= kFieldDisabled;
    SetFieldPosition(field, slot < 0 ? 0 : context->levelSlots[slot]);
}

void PublishField(PortPageContext* context, const TrackbarField& field, int slot, bool fixed)
{
    if (slot >= 0 && slot < kLevelSlotCount && !fixed) context->levelSlots[slot] = field.position;
}

int PositionForApply(TrackbarField& field)
{
    const int typed = ReadFieldEdit(field);
    return typed >= 0 ? typed : field.position;
}

uint16_t StoredLevel(const UartDescriptor* uart, int kind, int position)
{
    const int value = ValueOf(uart, kind, position);
    return value < 0 ? 0xFFFF : static_cast<uint16_t>(value);
}

void SetNumberText(HWND dialog, int id, unsigned value)
{
    wchar_t text[16];
    kt::Format(text, 16, L"%u", value);
    SetDlgItemTextW(dialog, id, text);
}
