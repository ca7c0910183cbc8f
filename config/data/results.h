// Result codes of the configuration tool's data layer and the prepared key-problem text.
// Operations return these codes; the user interface passes each one to ReportResult.
#pragma once

#include <cstddef>
#include <string>

enum ResultCode : int {
    kResultOk = 1,              // success
    kResultWritten = 2,         // success, at least one entry written or deleted
    kResultUnparsableCard = 5,  // a card key name cannot be parsed; shows nothing
    kResultKeyProblem = -1,     // shows KeyProblemText (or the fallback text)
    kResultSaveFailed = -2,
    kResultReadFailed = -3,
    kResultDeleteFailed = -4,
    kResultServiceManagerFailed = -5,
};

constexpr char kToolCaption[] = "ktcfg";

// Root names in the key-problem texts.
constexpr char kMachineRootName[] = "HKEY_LOCAL_MACHINE";
constexpr char kUserRootName[] = "HKEY_CURRENT_USER";
constexpr std::size_t kKeyProblemChars = 1024;

// The last text prepared by SetKeyProblem; empty when none is pending.
extern char KeyProblemText[kKeyProblemChars];

// Prepares "Key problem with <root>\<path> : <place>" and returns kResultKeyProblem.
int SetKeyProblem(const char* root, const char* path, const char* place);

// The text ReportResult shows for code, or false when the code shows nothing. For
// kResultKeyProblem the pending key-problem text is handed out and emptied.
bool TakeResultMessage(int code, std::string& text);

// Shows the message of code in an error box without owner (caption "ktcfg").
void ReportResult(int code);

// Error box without owner (caption "ktcfg") with the system's text for memory that ran out.
void ReportNoMemory();

// Warning box without owner (caption "ktcfg"), for readings that are only worth a warning.
void ShowWarning(const char* text);
