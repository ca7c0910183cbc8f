// The message boxes of the data layer.
#include <windows.h>

#include "data/results.h"

void ReportResult(int code)
{
    std::string text;
    if (TakeResultMessage(code, text))
        MessageBoxA(nullptr, text.c_str(), kToolCaption, MB_OK | MB_ICONERROR);
}

void ShowWarning(const char* text)
{
    MessageBoxA(nullptr, text, kToolCaption, MB_OK | MB_ICONWARNING);
}
