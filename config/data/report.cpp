// The message boxes of the data layer.
#include <windows.h>

#include <cstring>
#include <new>

#include "data/results.h"

void ReportResult(int code)
{
    try {
        std::string text;
        if (TakeResultMessage(code, text))
            MessageBoxA(nullptr, text.c_str(), kToolCaption, MB_OK | MB_ICONERROR);
    } catch (const std::bad_alloc&) {
        ReportNoMemory();
    }
}

void ReportNoMemory()
{
    char text[256];
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_NOT_ENOUGH_MEMORY,
                        0, text, sizeof text, nullptr))
        std::strcpy(text, "Not enough memory.");
    MessageBoxA(nullptr, text, kToolCaption, MB_OK | MB_ICONERROR);
}

void ShowWarning(const char* text)
{
    MessageBoxA(nullptr, text, kToolCaption, MB_OK | MB_ICONWARNING);
}
