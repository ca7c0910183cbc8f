// Registry access by absolute path, over the kernel registry calls.
#include "ktpptnt.h"

namespace {

constexpr ULONG kFullInfoSlack = 26;  // header of KEY_VALUE_FULL_INFORMATION and alignment

ULONG WideLength(PCWSTR text)
{
    ULONG length = 0;
    while (text[length]) ++length;
    return length;
}

void InitString(UNICODE_STRING& string, PCWSTR text)
{
    const ULONG bytes = WideLength(text) * sizeof(WCHAR);
    string.Buffer = const_cast<PWSTR>(text);
    string.Length = static_cast<USHORT>(bytes);
    string.MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

}  // namespace

KT_INIT NTSTATUS OpenRegistryKey(PCWSTR absolutePath, ULONG access, PHANDLE key)
{
    UNICODE_STRING path;
    InitString(path, absolutePath);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    ACCESS_MASK mask = 0;
    if (access & kRegistryRead) mask |= KEY_READ;
    if (access & kRegistryWrite) mask |= KEY_WRITE;
    return ZwOpenKey(key, mask, &attributes);
}

KT_INIT NTSTATUS QueryValueLength(HANDLE key, PCWSTR name, PULONG length)
{
    UNICODE_STRING valueName;
    InitString(valueName, name);
    ULONG buffer[4];  // 16 bytes: the header and a little data
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    ULONG resultLength = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, sizeof buffer, &resultLength);
    // A value too long for the buffer still tells its length.
    if (status == STATUS_BUFFER_TOO_SMALL) {
        *length = resultLength - FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
        return STATUS_SUCCESS;
    }
    if (status == STATUS_BUFFER_OVERFLOW || NT_SUCCESS(status)) {
        *length = info->DataLength;
        return STATUS_SUCCESS;
    }
    return status;
}

KT_INIT NTSTATUS ReadRegistryValue(HANDLE key, PCWSTR name, PVOID buffer, ULONG size)
{
    UNICODE_STRING valueName;
    InitString(valueName, name);
    const ULONG infoSize = valueName.Length + size + kFullInfoSlack;
    auto* info = static_cast<PKEY_VALUE_FULL_INFORMATION>(ExAllocatePoolWithTag(PagedPool, infoSize, kPoolTag));
    if (!info) return STATUS_INSUFFICIENT_RESOURCES;
    ULONG resultLength = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValueFullInformation, info, infoSize, &resultLength);
    if (NT_SUCCESS(status)) {
        if (info->DataLength <= size)
            RtlCopyMemory(buffer, reinterpret_cast<PUCHAR>(info) + info->DataOffset, info->DataLength);
        else
            status = STATUS_BUFFER_OVERFLOW;
    }
    ExFreePool(info);
    return status;
}

KT_INIT NTSTATUS WriteRegistryValue(HANDLE key, PCWSTR name, ULONG type, const void* data, ULONG size)
{
    UNICODE_STRING valueName;
    InitString(valueName, name);
    return ZwSetValueKey(key, &valueName, 0, type, const_cast<PVOID>(data), size);
}
