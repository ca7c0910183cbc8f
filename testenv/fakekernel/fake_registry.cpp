// The kernel registry calls over an in-memory tree. Key and value names are case-insensitive.
#include <cstring>

#include "kernel_state.h"

namespace fk {
namespace {

struct Value {
    std::wstring name;
    ULONG type;
    std::vector<uint8_t> data;
};

struct Registry {
    std::map<std::wstring, std::map<std::wstring, Value>> keys;  // upper-cased paths and names
    std::map<HANDLE, std::wstring> handles;
    std::set<uint32_t> accessRequested;
    uintptr_t nextHandle = 0x100;
};

Registry& R()
{
    static Registry registry;
    return registry;
}

std::map<std::wstring, Value>* KeyOf(HANDLE handle)
{
    auto it = R().handles.find(handle);
    if (it == R().handles.end()) return nullptr;
    auto key = R().keys.find(it->second);
    return key == R().keys.end() ? nullptr : &key->second;
}

ULONG AlignUp(ULONG value, ULONG alignment)
{
    return (value + alignment - 1) & ~(alignment - 1);
}

}  // namespace

void ResetRegistry()
{
    R() = Registry{};
}

void CreateKey(const std::wstring& key)
{
    R().keys[Upper(key)];
}

void SetValue(const std::wstring& key, const std::wstring& name, uint32_t type, const std::vector<uint8_t>& data)
{
    R().keys[Upper(key)][Upper(name)] = Value{name, type, data};
}

void SetString(const std::wstring& key, const std::wstring& name, const std::wstring& text)
{
    std::vector<uint8_t> data(reinterpret_cast<const uint8_t*>(text.c_str()),
                              reinterpret_cast<const uint8_t*>(text.c_str() + text.size() + 1));
    SetValue(key, name, kRegSz, data);
}

void SetMultiString(const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& texts)
{
    std::wstring joined;
    for (const std::wstring& text : texts) joined += text + L'\0';
    joined += L'\0';
    std::vector<uint8_t> data(reinterpret_cast<const uint8_t*>(joined.data()),
                              reinterpret_cast<const uint8_t*>(joined.data() + joined.size()));
    SetValue(key, name, kRegMultiSz, data);
}

std::optional<std::wstring> StringValue(const std::wstring& key, const std::wstring& name)
{
    auto k = R().keys.find(Upper(key));
    if (k == R().keys.end()) return std::nullopt;
    auto v = k->second.find(Upper(name));
    if (v == k->second.end()) return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(v->second.data.data()), v->second.data.size() / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

std::set<uint32_t> RegistryAccessRequested()
{
    Guard guard(Lock());
    return R().accessRequested;
}

int OpenRegistryHandles()
{
    Guard guard(Lock());
    return static_cast<int>(R().handles.size());
}

}  // namespace fk

using fk::R;

extern "C" NTSTATUS NTAPI ZwOpenKey(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes)
{
    fk::Guard guard(fk::Lock());
    R().accessRequested.insert(access);
    if (attributes->RootDirectory) fk::Fail("opening a key relative to another: not expected of this driver");
    const std::wstring path = fk::Upper(fk::FromUnicodeString(attributes->ObjectName));
    if (!R().keys.count(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
    auto value = reinterpret_cast<HANDLE>(R().nextHandle++);
    R().handles[value] = path;
    *handle = value;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwClose(HANDLE handle)
{
    fk::Guard guard(fk::Lock());
    if (!R().handles.erase(handle)) {
        fk::Fail("closing a handle that is not open");
        return STATUS_INVALID_HANDLE;
    }
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS NTAPI ZwQueryValueKey(HANDLE handle, PUNICODE_STRING name, KEY_VALUE_INFORMATION_CLASS kind,
                                          PVOID buffer, ULONG length, PULONG resultLength)
{
    fk::Guard guard(fk::Lock());
    auto* key = fk::KeyOf(handle);
    if (!key) return STATUS_INVALID_HANDLE;
    auto it = key->find(fk::Upper(fk::FromUnicodeString(name)));
    if (it == key->end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    const fk::Value& value = it->second;
    const auto dataLength = static_cast<ULONG>(value.data.size());

    if (kind == KeyValuePartialInformation) {
        const ULONG header = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
        *resultLength = header + dataLength;
        if (length < header) return STATUS_BUFFER_TOO_SMALL;
        auto* info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
        info->TitleIndex = 0;
        info->Type = value.type;
        info->DataLength = dataLength;
        if (length < header + dataLength) return STATUS_BUFFER_OVERFLOW;
        std::memcpy(info->Data, value.data.data(), dataLength);
        return STATUS_SUCCESS;
    }
    if (kind == KeyValueFullInformation) {
        const ULONG header = FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name);
        const auto nameBytes = static_cast<ULONG>(value.name.size() * sizeof(WCHAR));
        const ULONG dataOffset = fk::AlignUp(header + nameBytes, sizeof(ULONG));
        *resultLength = dataOffset + dataLength;
        if (length < header) return STATUS_BUFFER_TOO_SMALL;
        auto* info = static_cast<PKEY_VALUE_FULL_INFORMATION>(buffer);
        info->TitleIndex = 0;
        info->Type = value.type;
        info->DataOffset = dataOffset;
        info->DataLength = dataLength;
        info->NameLength = nameBytes;
        if (length < dataOffset + dataLength) return STATUS_BUFFER_OVERFLOW;
        std::memcpy(info->Name, value.name.data(), nameBytes);
        std::memcpy(static_cast<PUCHAR>(buffer) + dataOffset, value.data.data(), dataLength);
        return STATUS_SUCCESS;
    }
    fk::Fail("querying a value with an information class the fake does not know");
    return STATUS_INVALID_PARAMETER;
}

extern "C" NTSTATUS NTAPI ZwSetValueKey(HANDLE handle, PUNICODE_STRING name, ULONG, ULONG type, PVOID data, ULONG size)
{
    fk::Guard guard(fk::Lock());
    auto* key = fk::KeyOf(handle);
    if (!key) return STATUS_INVALID_HANDLE;
    const std::wstring valueName = fk::FromUnicodeString(name);
    const auto* bytes = static_cast<const uint8_t*>(data);
    (*key)[fk::Upper(valueName)] = fk::Value{valueName, type, std::vector<uint8_t>(bytes, bytes + size)};
    return STATUS_SUCCESS;
}
