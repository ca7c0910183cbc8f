#include "data/autorun.h"

#include <cstring>

#include "data/inventory.h"
#include "data/key_grant.h"
#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"
#include "text/bounded_text.h"

namespace {

constexpr char kRunValue[] = "ktcfgchk";
constexpr int kCommandChars = 260;

// The command line from InstallPath: 1, -1 or -3 (missing), -2 (too long to store).
int BuildCommandLine(char (&command)[kCommandChars + 1])
{
    ScopedKey product(HKEY_LOCAL_MACHINE, ProductKeyPath);
    if (!product) return SetKeyProblem(kMachineRootName, ProductKeyPath, "for meke autorun");
    char directory[kPathChars + 2];
    if (!GetStringValue("InstallPath", product.get(), directory, kPathChars + 1)) return kResultReadFailed;
    const size_t length = std::strlen(directory);
    const char* separator = length && directory[length - 1] == '\\' ? "" : "\\";
    return kt::FormatText(command, "%s%s%s reg", directory, separator, "ktcfgchk.exe") ? kResultOk
                                                                                     : kResultSaveFailed;
}

int Register()
{
    char command[kCommandChars + 1];
    int result = BuildCommandLine(command);
    if (result != kResultOk) return result;
    ScopedKey run(HKEY_CURRENT_USER, RunKeyPath);
    if (!run) return SetKeyProblem(kUserRootName, RunKeyPath, "for meke autorun");
    // Stored without the terminating zero, as the start-up check has always been registered.
    if (RegSetValueExA(run.get(), kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                       static_cast<DWORD>(std::strlen(command))) != ERROR_SUCCESS)
        return kResultSaveFailed;
    return kResultOk;
}

int Unregister()
{
    ScopedKey run(HKEY_CURRENT_USER, RunKeyPath);
    if (!run) return SetKeyProblem(kUserRootName, RunKeyPath, "at deleting run value");
    return RegDeleteValueA(run.get(), kRunValue) == ERROR_SUCCESS ? kResultOk : kResultDeleteFailed;
}

}  // namespace

extern "C" LONG WINAPI MakeAutorun(LONG on)
{
    KeyGrant grant(HKEY_CURRENT_USER, RunKeyPath);
    if (!grant) return SetKeyProblem(kUserRootName, RunKeyPath, "at gaining permition");
    const int result = on ? Register() : Unregister();
    if (!grant.Restore()) return SetKeyProblem(kUserRootName, RunKeyPath, "at gaining permition");
    return result;
}

int IsAutorunSet()
{
    ScopedKey run(HKEY_CURRENT_USER, RunKeyPath);
    char command[kStringDataBytes + 1];
    return run && GetStringValue(kRunValue, run.get(), command) ? 1 : 0;
}
