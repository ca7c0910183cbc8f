#include "line_settings.h"

#include <vector>

#include "number_text.h"
#include "runtime/format.h"

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

// Up to five fields. A field runs to the next blank, comma or end; after it (and any blanks) must
// come a comma or the end. Text that breaks this leaves the field and those after it missing.
std::vector<std::wstring> SplitFields(const std::wstring& text)
{
    std::vector<std::wstring> fields;
    size_t i = 0;
    const size_t n = text.size();
    while (fields.size() < 5 && i < n) {
        while (i < n && IsBlank(text[i])) ++i;
        const size_t start = i;
        while (i < n && !IsBlank(text[i]) && text[i] != L',') ++i;
        std::wstring field = text.substr(start, i - start);
        while (i < n && IsBlank(text[i])) ++i;
        if (i < n && text[i] != L',') break;
        fields.push_back(field);
        if (i < n) ++i;  // the comma
    }
    return fields;
}

}  // namespace

LineSettings ParseLineSettings(const std::wstring& original)
{
    size_t start = 0;
    while (start < original.size() && IsBlank(original[start])) ++start;
    const std::wstring text = start == original.size() ? std::wstring(kDefaultLineText) : original.substr(start);
    const std::vector<std::wstring> fields = SplitFields(text);
    const auto field = [&](size_t index) { return index < fields.size() ? fields[index] : std::wstring(); };

    LineSettings settings = {9600, kDataBits8, kParityNone, kStopBits1, kFlowNone};
    if (!field(0).empty()) settings.baudRate = LeadingDecimal(field(0).c_str(), field(0).size());
    switch (field(1).empty() ? 0 : field(1)[0]) {
    case L'e': settings.parity = kParityEven; break;
    case L'o': settings.parity = kParityOdd; break;
    case L'm': settings.parity = kParityMark; break;
    case L's': settings.parity = kParitySpace; break;
    default: settings.parity = kParityNone; break;
    }
    if (!field(2).empty()) {
        switch (LeadingDecimal(field(2).c_str(), field(2).size())) {
        case 5: settings.dataBits = kDataBits5; break;
        case 6: settings.dataBits = kDataBits6; break;
        case 7: settings.dataBits = kDataBits7; break;
        default: settings.dataBits = kDataBits8; break;
        }
    }
    if (field(3) == L"1.5") settings.stopBits = kStopBits1_5;
    else if (field(3) == L"2") settings.stopBits = kStopBits2;
    if (field(4) == L"p") settings.flowControl = kFlowHardware;
    else if (field(4) == L"x") settings.flowControl = kFlowXonXoff;
    return settings;
}

std::wstring FormatLineSettings(const LineSettings& s)
{
    wchar_t parity = L'n';
    switch (s.parity) {
    case kParityEven: parity = L'e'; break;
    case kParityOdd: parity = L'o'; break;
    case kParityMark: parity = L'm'; break;
    case kParitySpace: parity = L's'; break;
    default: break;
    }
    int dataBits = 8;
    switch (s.dataBits) {
    case kDataBits5: dataBits = 5; break;
    case kDataBits6: dataBits = 6; break;
    case kDataBits7: dataBits = 7; break;
    default: break;
    }
    const wchar_t* stopBits = s.stopBits == kStopBits1_5 ? L"1.5" : s.stopBits == kStopBits2 ? L"2" : L"1";
    wchar_t text[64];
    if (s.flowControl == kFlowHardware || s.flowControl == kFlowXonXoff)
        kt::Format(text, 64, L"%ld,%lc,%d,%ls,%lc", static_cast<long>(s.baudRate), parity, dataBits, stopBits,
                      s.flowControl == kFlowHardware ? L'p' : L'x');
    else
        kt::Format(text, 64, L"%ld,%lc,%d,%ls", static_cast<long>(s.baudRate), parity, dataBits, stopBits);
    return text;
}
