#include "data/driver_info.h"

#include <windows.h>

#include "data/registry_paths.h"
#include "data/registry_readers.h"
#include "data/results.h"
#include "data/scoped_key.h"
#include "runtime/format.h"
#include "text/bounded_text.h"

DriverInfoRecord DriverInfo;
std::vector<DriverListEntry> DriverList;

namespace {

constexpr DWORD kDriverListDataBytes = 101;

struct ServiceField {
    const char* value;
    char* field;
    const char* warning;
};

void ReadServiceNames(HKEY enumerator)
{
    const ServiceField fields[] = {
        {"EnumService", DriverInfo.EnumService, "Can't find Key for EnumService"},
        {"SerService", DriverInfo.SerService, "Can't find Key for SerService"},
        {"ParService", DriverInfo.ParService, "Can't find Key for ParService"},
        {"ParMiniService", DriverInfo.ParMiniService, "Can't find Key for ParMiniService"},
    };
    for (const ServiceField& f : fields)
        if (!GetStringValue(f.value, enumerator, f.field, kTextChars)) ShowWarning(f.warning);
}

// The package's files: values whose name is exactly two characters long.
void ReadDriverList(HKEY list)
{
    DriverList.clear();
    ForEachValue(list, kDriverListDataBytes, [](const EnumeratedValue& value) {
        if (value.name[0] && value.name[1] && !value.name[2]) {
            DriverListEntry entry{};
            kt::CopyText(entry.name, reinterpret_cast<const char*>(value.data));
            DriverList.push_back(entry);
        }
        return false;
    });
}

}  // namespace

int GetDriverInfo()
{
    ScopedKey enumerator(HKEY_LOCAL_MACHINE, EnumeratorPath);
    if (!enumerator) return SetKeyProblem(kMachineRootName, EnumeratorPath, "in GetDriverInfo");
    for (auto [value, field] : {std::make_pair("Date", DriverInfo.Date),
                                std::make_pair("Provider", DriverInfo.Provider),
                                std::make_pair("Version", DriverInfo.Version)})
        if (!GetStringValue(value, enumerator.get(), field, kTextChars)) kt::CopyText(field, kTextChars, "???");
    ReadServiceNames(enumerator.get());

    char path[kRegPathChars];
    ScopedKey list = OpenJoinedKey(HKEY_LOCAL_MACHINE, path, EnumeratorPath, "DRIVERLIST");
    if (!list) return SetKeyProblem(kMachineRootName, path, "in GetDriverInfo");
    ReadDriverList(list.get());
    return kResultOk;
}

int GetErrorDesc(int number, char* text, std::size_t textChars)
{
    char path[kRegPathChars];
    ScopedKey errors = OpenJoinedKey(HKEY_LOCAL_MACHINE, path, EnumeratorPath, "KNOWNERRORS");
    if (!errors) return SetKeyProblem(kMachineRootName, path, "in GetErrorDesc");
    char name[16];
    kt::Format(name, sizeof name, "%d", number);
    return GetStringValue(name, errors.get(), text, textChars) ? kResultOk : kResultReadFailed;
}
