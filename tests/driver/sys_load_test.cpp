// The real ktpptnt.sys: its resources as built, and loading it as a kernel-driver service under Wine.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cardsim.h"
#include "standin.h"

namespace {

const char kService[] = "ktpptnt";

std::string Message(HMODULE module, DWORD id)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        module, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : "<none>";
    LocalFree(text);
    return result;
}

std::string VersionText(const char* name)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(KTPPTNT_PATH, &handle);
    std::string block(size, '\0');
    if (!size || !GetFileVersionInfoA(KTPPTNT_PATH, 0, size, &block[0])) return "<none>";
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return "<none>";
    return value;
}

TEST(DriverFile, MessageTableTextsAreExact)
{
    HMODULE module = LoadLibraryExA(KTPPTNT_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(Message(module, 0x80070001), "Unable to create the symbolic link for %2.\r\n");
    EXPECT_EQ(Message(module, 0xC0070004), "Not enough resources were available for the driver.\r\n");
    EXPECT_EQ(Message(module, 0xC0070011), "Could not connect %2 to the enumerator. \r\n");
    EXPECT_EQ(Message(module, 0xC0070012), "Could not disconnect %2 from the enumerator. \r\n");
    FreeLibrary(module);
}

// The export directory's counts and the section names of the driver file.
struct ImageLayout {
    DWORD exportedFunctions = 0, exportedNames = 0;
    std::set<std::string> sections;
};

ImageLayout ReadImageLayout()
{
    std::ifstream file(KTPPTNT_PATH, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ImageLayout layout;
    if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return layout;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes.data() + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const IMAGE_DATA_DIRECTORY& exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const auto* name = reinterpret_cast<const char*>(section->Name);
        layout.sections.insert(std::string(name, strnlen(name, IMAGE_SIZEOF_SHORT_NAME)));
        if (!exports.Size || exports.VirtualAddress < section->VirtualAddress ||
            exports.VirtualAddress >= section->VirtualAddress + section->Misc.VirtualSize)
            continue;
        const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
            bytes.data() + section->PointerToRawData + (exports.VirtualAddress - section->VirtualAddress));
        layout.exportedFunctions = directory->NumberOfFunctions;
        layout.exportedNames = directory->NumberOfNames;
    }
    return layout;
}

TEST(DriverFile, ExportsNothingAndHasPageableAndInitialisationCode)
{
    const ImageLayout layout = ReadImageLayout();
    EXPECT_EQ(layout.exportedFunctions, 0u);
    EXPECT_EQ(layout.exportedNames, 0u);
    EXPECT_TRUE(layout.sections.count(".text"));
    EXPECT_TRUE(layout.sections.count("PAGE"));
    EXPECT_TRUE(layout.sections.count("INIT"));
}

TEST(DriverFile, VersionBlock)
{
    EXPECT_EQ(VersionText("FileDescription"), "KT Parallel Port Driver");
    EXPECT_EQ(VersionText("FileVersion"), "2.58.00.000");
    EXPECT_EQ(VersionText("ProductVersion"), "2.58.00.000");
    EXPECT_EQ(VersionText("InternalName"), "ktpptnt.SYS");
    EXPECT_EQ(VersionText("OriginalFilename"), "ktpptnt.SYS");
    EXPECT_EQ(VersionText("ProductName"), "Qarix PCI card");
    EXPECT_EQ(VersionText("CompanyName"), "Tervane");
}

class DriverService : public testing::Test {
protected:
    void SetUp() override
    {
        Remove();
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        SC_HANDLE service = CreateServiceA(manager, kService, kService, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, KTPPTNT_PATH, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(service, nullptr) << GetLastError();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    void TearDown() override
    {
        Remove();
        cardsim::DeleteTree(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath);
    }
    static void Remove() { standin::Remove(kService); }
    static DWORD Start()
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceA(manager, kService, SERVICE_ALL_ACCESS);
        const DWORD rc = StartServiceA(service, 0, nullptr) ? 0 : GetLastError();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return rc;
    }
};

TEST_F(DriverService, StartsAndStopsWithAnEmptyEnumeratorList)
{
    ASSERT_EQ(cardsim::SetBinary(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, "Enumerators", {0, 0}), ERROR_SUCCESS);
    HKEY key;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, cardsim::kProductKeyPath, &key), ERROR_SUCCESS);
    const wchar_t empty[] = L"\0";
    RegSetValueExW(key, L"Enumerators", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(empty), sizeof empty);
    RegCloseKey(key);
    EXPECT_EQ(Start(), 0u);
    EXPECT_EQ(standin::CurrentState(kService), DWORD(SERVICE_RUNNING));
    EXPECT_EQ(standin::Stop(kService), 0u);
    EXPECT_EQ(standin::CurrentState(kService), DWORD(SERVICE_STOPPED));
}

TEST_F(DriverService, DoesNotStartWithoutTheProductKey)
{
    EXPECT_NE(Start(), 0u);
    EXPECT_NE(standin::CurrentState(kService), DWORD(SERVICE_RUNNING));
}

}  // namespace
