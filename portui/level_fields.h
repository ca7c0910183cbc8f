// What the pages with level fields share: the field templates with the conversions of each level
// kind (taking the UART type from the context), slots, and the values the pages store.
#pragma once

#include "page_context.h"
#include "uart_table.h"

// The descriptor of the UART type chosen for the port (PORTINFO's UART word); nullptr for none.
const UartDescriptor* StoredUart(const PortPageContext* context);

// The PORTINFO offset of a level kind's value.
size_t LevelOffset(int kind);

// A field of kind (0-8) on the given controls, with that kind's conversions.
TrackbarField LevelField(PortPageContext* context, int kind, int lowLabel, int highLabel, int edit, int trackbar);

// Seeds the slot (first seed since the last UART type change wins).
void SeedLevelSlot(PortPageContext* context, int slot, int position);
// Puts a position into a slot nobody has seeded since the last UART type change, without seeding
// it: a later seed still wins.
void FillUnseededSlot(PortPageContext* context, int slot, int position);

// Puts a built field at its slot's value: a field without slot gets 0, and a field without slot
// or of a fixed kind is disabled.
void PlaceField(PortPageContext* context, TrackbarField& field, int slot, bool fixed);

// The field's position into its slot, unless the kind is fixed or has no slot.
void PublishField(PortPageContext* context, const TrackbarField& field, int slot, bool fixed);

// The position Apply stores: the one typed into the edit, or the trackbar's when the text does not
// parse at that moment.
int PositionForApply(TrackbarField& field);

// The value of a position as PORTINFO stores it: 0xFFFF when the position has none.
uint16_t StoredLevel(const UartDescriptor* uart, int kind, int position);

// Text of an 8-bit number for a control ("%u").
void SetNumberText(HWND dialog, int id, unsigned value);
