// Where the installer finds its setup information file and its pictures, and the destination it
// offers; and the real program on a system version it does not support.
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "cardsim.h"
#include "import_hook.h"
#include "installer_harness.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// An empty working folder that becomes the current directory of the run.
class InstallerFiles : public InstallerHarness {
protected:
    void SetUp() override
    {
        InstallerHarness::SetUp();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + "kt_install_folder";
        RemoveFolder();
        CreateDirectoryA(folder.c_str(), nullptr);
        SetCurrentDirectoryA(folder.c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(packageDir.c_str());
        RemoveFolder();
        InstallerHarness::TearDown();
    }

    void RemoveFolder()
    {
        for (const char* name : {"QARIXNT.INF", "kttext.bmp"}) DeleteFileA((folder + "\\" + name).c_str());
        RemoveDirectoryA(folder.c_str());
    }

    // The top of the destination dialog when the run is cancelled there.
    LONG DestinationDialogTop()
    {
        SeenDialog seen;
        EXPECT_EQ(1, Run("-c " + Config(QuietAdmin()), [&] { seen = Answer("Choose installation directory", IDCANCEL); }));
        EXPECT_EQ(std::vector<std::string>{}, Boxes());
        return seen.rect.top;
    }

    std::string folder;
};

TEST_F(InstallerFiles, SetupInformationFileOfTheCurrentDirectoryWins)
{
    // Nothing here and nothing beside the test program.
    const std::string config = Config(QuietAdmin() + "DESTPATH=" + kTestDestination + "\n");
    EXPECT_EQ(3, Run("-c " + config));
    EXPECT_EQ(std::vector<std::string>{"File QARIXNT.INF could not be found."}, Boxes());

    // A damaged copy here is taken rather than the package's, and refused with its line.
    std::string inf = ReadFile(packageDir + "\\QARIXNT.INF");
    const size_t header = inf.find("[Version]");
    ASSERT_NE(std::string::npos, header);
    inf.replace(header, 9, "[Version");
    WriteFile(folder + "\\QARIXNT.INF", inf);
    const int line = 1 + static_cast<int>(std::count(inf.begin(), inf.begin() + header, '\n'));
    boxes.Clear();
    EXPECT_EQ(4, Run("-c " + config));
    EXPECT_EQ(std::vector<std::string>{"Error in .inf file at line " + std::to_string(line) + "."}, Boxes());
    EXPECT_FALSE(FileExists(std::string(kTestDestination) + "\\ktcfg.cpl"));
}

TEST_F(InstallerFiles, DamagedBannerFilesGiveNoBanner)
{
    const std::string banner = ReadFile(packageDir + "\\kttext.bmp");
    WriteFile(folder + "\\kttext.bmp", banner);
    EXPECT_EQ(90, DestinationDialogTop());

    WriteFile(folder + "\\kttext.bmp", "XX" + banner.substr(2));
    EXPECT_EQ(0, DestinationDialogTop());

    WriteFile(folder + "\\kttext.bmp", banner.substr(0, banner.size() - 1));
    EXPECT_EQ(0, DestinationDialogTop());
}

// The damaged pictures met in the field and by the fuzzer: no banner, and no time spent on them.
TEST_F(InstallerFiles, PicturesWhoseHeadersLieGiveNoBannerQuickly)
{
    for (const char* name : {"claims_4gb", "claims_2000x2000", "truncated_info", "bits_past_end", "height_int_min"}) {
        WriteFile(folder + "\\kttext.bmp", ReadFile(std::string(BITMAP_CORPUS_DIR) + "\\" + name));
        const DWORD started = GetTickCount();
        EXPECT_EQ(0, DestinationDialogTop()) << name;
        EXPECT_LT(GetTickCount() - started, 5000u) << name;
    }
}

std::string SystemText(DWORD code)
{
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text, nullptr);
    return text;
}

DWORD WINAPI CurrentDirectoryTooLong(DWORD, LPSTR)
{
    return 400;  // what the system answers when the buffer cannot take the directory
}

// Paths are refused, never cut: a cut one would install somewhere else than asked.
TEST_F(InstallerFiles, PathsThatDoNotFitAreRefusedWithTheSystemsText)
{
    const std::string tooLong = "C:\\" + std::string(300, 'q');
    EXPECT_EQ(5, Run("-c " + Config(QuietAdmin() + "NOREBOOT\nDESTPATH=" + tooLong + "\n")));
    EXPECT_EQ(std::vector<std::string>{SystemText(ERROR_FILENAME_EXCED_RANGE)}, Boxes());
    EXPECT_FALSE(cardsim::KeyExists(HKEY_LOCAL_MACHINE, kProductKey));

    boxes.Clear();
    void* original = HookImport(GetModuleHandleA(nullptr), "kernel32.dll", "GetCurrentDirectoryA",
                                reinterpret_cast<void*>(CurrentDirectoryTooLong));
    ASSERT_NE(original, nullptr);
    const int result = Run("-c " + Config(QuietAdmin() + "NOREBOOT\nDESTPATH=" + kTestDestination + "\n"));
    HookImport(GetModuleHandleA(nullptr), "kernel32.dll", "GetCurrentDirectoryA", original);
    EXPECT_EQ(5, result);
    EXPECT_EQ(std::vector<std::string>{SystemText(ERROR_FILENAME_EXCED_RANGE)}, Boxes());
    EXPECT_FALSE(FileExists(std::string(kTestDestination) + "\\ktcfg.cpl"));
}

TEST_F(InstallerFiles, PicturesComeFromThePreviousInstallation)
{
    PretendInstalledAt(packageDir);
    SeenDialog seen;
    EXPECT_EQ(1, Run("-c " + Config(QuietAdmin()), [&] { seen = Answer("Installation type", IDCANCEL); }));
    EXPECT_EQ(90, seen.rect.top);
    EXPECT_EQ(std::vector<std::string>{}, Boxes());
}

TEST_F(InstallerFiles, DefaultDestinationWithoutProgramFilesDirectory)
{
    const std::string programFiles = ProgramFilesDir();
    ASSERT_NE("<missing>", programFiles);
    SHDeleteValueA(HKEY_LOCAL_MACHINE, kVersionKey, "ProgramFilesDir");
    SeenDialog seen;
    const int result =
        Run("-c " + Config(QuietAdmin()), [&] { seen = Answer("Choose installation directory", IDCANCEL); });
    SHSetValueA(HKEY_LOCAL_MACHINE, kVersionKey, "ProgramFilesDir", REG_SZ, programFiles.c_str(),
                static_cast<DWORD>(programFiles.size() + 1));
    EXPECT_EQ(1, result);
    EXPECT_EQ("C:\\QARIX", seen.field);
}

TEST_F(InstallerFiles, RealProgramRefusesAnUnsupportedSystemVersion)
{
    const char appDefaults[] = "Software\\Wine\\AppDefaults\\install.exe";
    ASSERT_EQ(ERROR_SUCCESS, SHSetValueA(HKEY_CURRENT_USER, appDefaults, "Version", REG_SZ, "win7", 5));
    std::vector<std::string> texts;
    const DWORD exitCode = RunProgram(QuietAdmin() + "DESTPATH=" + kTestDestination + "\n", texts);
    SHDeleteKeyA(HKEY_CURRENT_USER, appDefaults);

    EXPECT_EQ(std::vector<std::string>{"Wrong system version for this installation."}, texts);
    EXPECT_EQ(6u, exitCode) << "the exit status is the result";
    EXPECT_FALSE(FileExists(std::string(kTestDestination) + "\\ktcfg.cpl"));
}

}  // namespace
