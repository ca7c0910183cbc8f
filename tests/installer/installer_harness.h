// Runs the real installer in this process (its window on the test's main thread, its worker on a
// thread of its own) against the Wine registry, services and file system, with the installation
// package as the current directory. Every message box is answered and recorded; the reboot
// request is recorded instead of carried out.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "guiauto.h"

// A dialog of the installer as the driving thread found it.
struct SeenDialog {
    RECT rect = {};
    std::string field;  // the destination field, when the dialog has one
};

class InstallerHarness : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs install.exe's program with commandLine; drive() runs on a second thread meanwhile.
    // Returns the worker's result.
    int Run(const std::string& commandLine, const std::function<void()>& drive = {});

    // Runs the real install.exe of the package with a configuration file of configText, answering
    // its message boxes with OK; returns its exit status, and the boxes' texts in boxTexts.
    DWORD RunProgram(const std::string& configText, std::vector<std::string>& boxTexts);

    // A configuration file in the temporary folder; its path for "-c".
    std::string Config(const std::string& text);
    // The configuration lines every run needs: this user as administrator, and QUIET.
    std::string QuietAdmin() const;

    // For drive(): waits for a dialog of the installer by caption, records it and clicks id.
    SeenDialog Answer(const char* caption, int id, const char* screenshot = nullptr);

    // The state of a previous installation without one: only the product key's InstallPath.
    void PretendInstalledAt(const std::string& directory);

    // Removes services, keys and files that an installation leaves behind.
    static void RemoveInstallation(const std::string& destination);

    std::vector<std::string> Boxes() { return boxes.Texts(); }

    guiauto::MessageBoxCatcher boxes{"Qarix install", IDYES};
    std::string userName;
    std::string packageDir;
    std::vector<UINT> reboots;        // flags of each reboot request
    std::function<void()> atReboot;  // runs at each reboot request, as the system would end us

private:
    static BOOL WINAPI RecordReboot(UINT flags, DWORD reason);

    std::vector<std::string> configFiles_;
    char savedDirectory_[MAX_PATH] = {};
};

// The raw security descriptor of a key's DACL, put back byte for byte at the end of a test.
class SavedKeySecurity {
public:
    explicit SavedKeySecurity(const char* path) : path_(path)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, READ_CONTROL, &key) != ERROR_SUCCESS) return;
        DWORD size = 0;
        RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
        descriptor_.resize(size);
        if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor_.data(), &size) != ERROR_SUCCESS)
            descriptor_.clear();
        RegCloseKey(key);
    }
    ~SavedKeySecurity()
    {
        HKEY key;
        if (descriptor_.empty() || RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_, 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor_.data());
        RegCloseKey(key);
    }

private:
    const char* path_;
    std::vector<BYTE> descriptor_;
};

extern const char kTestDestination[];
extern const char kProductKey[];
extern const char kEnumPath[];
extern const char* const kDriverServices[4];

bool FileExists(const std::string& path);
std::string ReadText(HKEY root, const std::string& path, const char* name);
std::vector<uint8_t> ReadBinary(HKEY root, const std::string& path, const char* name);
bool ServiceExists(const char* name);
// The machine's program-files directory as the installer reads it.
std::string ProgramFilesDir();
extern const char kVersionKey[];
