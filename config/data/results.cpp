#include "data/results.h"

#include "text/bounded_text.h"

char KeyProblemText[kKeyProblemChars];

int SetKeyProblem(const char* root, const char* path, const char* place)
{
    kt::FormatText(KeyProblemText, "Key problem with %s\\%s : %s", root, path, place);
    return kResultKeyProblem;
}

bool TakeResultMessage(int code, std::string& text)
{
    switch (code) {
    case kResultKeyProblem:
        text = KeyProblemText[0] ? KeyProblemText : "Key problem in the registry";
        KeyProblemText[0] = 0;
        return true;
    case kResultSaveFailed: text = "Saving the value in the registry failed"; return true;
    case kResultReadFailed: text = "Getting a registry value failed"; return true;
    case kResultDeleteFailed: text = "Deleting a registry value failed"; return true;
    case kResultServiceManagerFailed: text = "Using the service-manager failed"; return true;
    default: return false;
    }
}
