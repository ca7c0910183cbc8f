#include "trackbar_field.h"

#include <commctrl.h>

#include "number_text.h"
#include "runtime/format.h"

namespace {

constexpr int kEditChars = 30;

bool DefaultFormat(const PortPageContext*, int position, char* text, size_t chars)
{
    kt::Format(text, chars, "%d", position);
    return true;
}

int DefaultParse(const PortPageContext*, const char* text)
{
    return LeadingDecimal(text, kEditChars);
}

// The pages' texts are numbers; the controls are UTF-16.
void SetNarrowText(HWND dialog, int id, const char* text)
{
    wchar_t wide[64];
    size_t i = 0;
    for (; text[i] && i + 1 < 64; ++i) wide[i] = static_cast<unsigned char>(text[i]);
    wide[i] = 0;
    SetDlgItemTextW(dialog, id, wide);
}

void GetNarrowText(HWND dialog, int id, char* text, int chars)
{
    wchar_t wide[64] = {};
    GetDlgItemTextW(dialog, id, wide, chars < 64 ? chars : 64);
    int i = 0;
    for (; wide[i] && i + 1 < chars; ++i) text[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
    text[i] = 0;
}

void PutFormatted(const TrackbarField& field, int id, int position)
{
    char text[32];
    if (id != -1 && field.format(field.owner, position, text, sizeof text)) SetNarrowText(field.dialog, id, text);
}

void EnableControls(const TrackbarField& field)
{
    const BOOL enabled = !(field.state & kFieldDisabled);
    EnableWindow(GetDlgItem(field.dialog, field.editId), enabled);
    EnableWindow(GetDlgItem(field.dialog, field.trackbarId), enabled);
}

}  // namespace

int TickInterval(int maximum)
{
    return (maximum + 9) / 10;
}

void InitialiseField(TrackbarField& field)
{
    if (!field.dialog) return;
    if (!field.format) field.format = DefaultFormat;
    if (!field.parse) field.parse = DefaultParse;
    HWND trackbar = GetDlgItem(field.dialog, field.trackbarId);
    if (field.maximum != 0) {
        SendMessageW(trackbar, TBM_SETRANGE, TRUE, MAKELPARAM(0, field.maximum));
        SendMessageW(trackbar, TBM_CLEARTICS, FALSE, 0);
        const int step = TickInterval(field.maximum);
        for (int tick = 0; tick <= field.maximum; tick += step) SendMessageW(trackbar, TBM_SETTIC, 0, tick);
    }
    PutFormatted(field, field.lowLabelId, 0);
    PutFormatted(field, field.highLabelId, field.maximum);
    SendDlgItemMessageW(field.dialog, field.editId, EM_LIMITTEXT, kEditChars, 0);
    EnableControls(field);
    if (field.maximum == 0) return;
    int position = field.position;
    if (position < 0) position = 0;
    if (position > field.maximum) position = field.maximum;
    SetFieldPosition(field, position);
}

void SetFieldPosition(TrackbarField& field, int position)
{
    field.position = position;
    if (!field.dialog) return;
    PutFormatted(field, field.editId, position);
    SendDlgItemMessageW(field.dialog, field.trackbarId, TBM_SETPOS, TRUE, position);
}

int ReadFieldEdit(TrackbarField& field)
{
    if (!field.dialog) return field.position;
    char text[kEditChars + 1];
    GetNarrowText(field.dialog, field.editId, text, sizeof text);
    const int position = field.parse(field.owner, text);
    if (position < 0 || position > field.maximum) return -1;
    SetFieldPosition(field, position);
    return position;
}

void EnableField(TrackbarField& field, bool on)
{
    if (on) field.state &= ~kFieldDisabled;
    else field.state |= kFieldDisabled;
    if (field.dialog) EnableControls(field);
}

bool HandleField(TrackbarField& field, int controlId, int notification)
{
    if (field.state & kFieldDisabled) return false;
    if (controlId == field.editId) {
        if (notification != EN_KILLFOCUS) return false;
        if (ReadFieldEdit(field) < 0) SetFieldPosition(field, field.position);
        return true;
    }
    if (controlId == field.trackbarId) {
        field.position = static_cast<int32_t>(SendDlgItemMessageW(field.dialog, field.trackbarId, TBM_GETPOS, 0, 0));
        PutFormatted(field, field.editId, field.position);
        return true;
    }
    return false;
}
