// The control side of a TrackbarField: trackbar, edit and labels of a page.
#pragma once

#include "page_context.h"

// Sets up the controls: range and ticks, label texts, edit limit, enabling, position.
void InitialiseField(TrackbarField& field);
void SetFieldPosition(TrackbarField& field, int position);
// The position typed into the edit, or -1 when it does not parse into the range; a valid text is
// rewritten in its canonical form. Without a dialog: the stored position.
int ReadFieldEdit(TrackbarField& field);
void EnableField(TrackbarField& field, bool on);
// Handles a notification of the field's edit (EN_KILLFOCUS) or trackbar (0, for every scroll
// message); true when the field took a position.
bool HandleField(TrackbarField& field, int controlId, int notification);

// The distance between two trackbar ticks for a range of 0 to maximum.
int TickInterval(int maximum);
