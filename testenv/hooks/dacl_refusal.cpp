#include "dacl_refusal.h"

#include <memory>

#include "import_hook.h"

namespace {

using SetSecurity = LONG(WINAPI*)(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

SetSecurity original;
DaclRefusal::Writes refusing;
int left, refused;

bool NamesCurrentUser(PSECURITY_DESCRIPTOR descriptor)
{
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl) return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD bytes = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &bytes);
    std::unique_ptr<BYTE[]> user(new BYTE[bytes ? bytes : 1]);
    const bool known = GetTokenInformation(token, TokenUser, user.get(), bytes, &bytes);
    CloseHandle(token);
    if (!known) return false;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, index, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&ace->SidStart, sid))
            return true;
    }
    return false;
}

LONG WINAPI Refusing(HKEY key, SECURITY_INFORMATION what, PSECURITY_DESCRIPTOR descriptor)
{
    const bool matches = refusing == DaclRefusal::Writes::All || !NamesCurrentUser(descriptor);
    if (matches && left > 0) {
        --left;
        ++refused;
        return ERROR_ACCESS_DENIED;
    }
    return original(key, what, descriptor);
}

}  // namespace

DaclRefusal::DaclRefusal(HMODULE module, Writes which, int count) : module_(module)
{
    refusing = which;
    left = count;
    refused = 0;
    original_ = HookImport(module, "advapi32.dll", "RegSetKeySecurity", reinterpret_cast<void*>(Refusing));
    if (original_ && original_ != reinterpret_cast<void*>(Refusing)) original = reinterpret_cast<SetSecurity>(original_);
}

DaclRefusal::~DaclRefusal()
{
    if (original) HookImport(module_, "advapi32.dll", "RegSetKeySecurity", reinterpret_cast<void*>(original));
    original = nullptr;
}

int DaclRefusal::Refused() const
{
    return refused;
}
