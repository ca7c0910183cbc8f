#include "data/device_changes.h"

#include <windows.h>

#include "data/inventory.h"
#include "data/key_grant.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"

namespace {

constexpr DWORD kEnabledBit = 0x2;

// Rewrites bit 1 of the stored Flags from enabled, keeping every other bit.
int WriteEnabled(const char* keyPath, int enabled, const char* place)
{
    ScopedKey key(HKEY_LOCAL_MACHINE, keyPath);
    if (!key) return SetKeyProblem(kMachineRootName, keyPath, place);
    DWORD flags = 0;
    const LONG read = QueryDwordValue("Flags", key.get(), &flags);
    if (read == ERROR_FILE_NOT_FOUND) return kResultWritten;
    if (read != ERROR_SUCCESS) return kResultSaveFailed;  // an unread value is not a missing one
    flags = (flags & ~kEnabledBit) | (enabled ? kEnabledBit : 0);
    if (RegSetValueExA(key.get(), "Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags),
                       sizeof flags) != ERROR_SUCCESS)
        return kResultSaveFailed;
    return kResultWritten;
}

template <class Entry>
int SaveEntries(std::vector<Entry>& list, const char* place, const char* noRightsPlace)
{
    int result = kResultOk;
    for (Entry& entry : list) {
        if (result != kResultOk && result != kResultWritten) break;
        if (!entry.modified) continue;
        KeyGrant grant(HKEY_LOCAL_MACHINE, entry.keyPath);
        if (!grant) return SetKeyProblem(kMachineRootName, entry.keyPath, noRightsPlace);
        result = WriteEnabled(entry.keyPath, entry.enabled, place);
        if (!grant.Restore()) return SetKeyProblem(kMachineRootName, entry.keyPath, noRightsPlace);
    }
    return result;
}

// Deletes the card key's remaining subkeys, always the first one left, then the card key.
int DeleteCardKey(const char* keyPath)
{
    int result = kResultWritten;
    {
        ScopedKey card(HKEY_LOCAL_MACHINE, keyPath);
        if (!card) {
            result = kResultDeleteFailed;
        } else {
            char name[261];
            DWORD chars = sizeof name;
            while (RegEnumKeyExA(card.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr) ==
                   ERROR_SUCCESS) {
                if (RegDeleteKeyA(card.get(), name) != ERROR_SUCCESS) {
                    result = kResultDeleteFailed;
                    break;
                }
                chars = sizeof name;
            }
        }
    }
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath) != ERROR_SUCCESS) result = kResultDeleteFailed;
    return result;
}

// A deleted key is done with: a later save or removal (after "No" to the reboot question, the
// user may press OK again) must not try it again.
template <class Entry>
void MarkDeletedIf(bool deleted, Entry& entry)
{
    if (!deleted) return;
    entry.deleted = 1;
    entry.modified = 0;
}

}  // namespace

int SaveCards()
{
    return SaveEntries(CardList, "SaveCards", "SaveCards : no rights");
}

int SavePorts()
{
    return SaveEntries(PortList, "SavePorts", "SavePorts: no rights");
}

int RemovePorts()
{
    int result = kResultOk;
    for (PortEntry& port : PortList) {
        if (result != kResultOk && result != kResultWritten) break;
        if (!port.remove || port.deleted) continue;
        KeyGrant grant(HKEY_LOCAL_MACHINE, port.keyPath);
        result = grant && RegDeleteKeyA(HKEY_LOCAL_MACHINE, port.keyPath) == ERROR_SUCCESS
                     ? kResultWritten
                     : kResultDeleteFailed;
        MarkDeletedIf(result == kResultWritten, port);
    }
    return result;
}

int RemoveCards()
{
    int result = kResultOk;
    for (CardEntry& card : CardList) {
        if (result != kResultOk && result != kResultWritten) break;
        if (!card.remove || card.deleted) continue;
        KeyGrant grant(HKEY_LOCAL_MACHINE, card.keyPath);
        result = grant ? DeleteCardKey(card.keyPath) : kResultDeleteFailed;
        MarkDeletedIf(result == kResultWritten, card);
    }
    return result;
}
