// The 32-bit installer on a 64-bit Windows: it ends before it changes anything, with the result of
// an unsupported system, and says which package is the one for the system (quietly, nothing).
// Runs in a WoW64 prefix only (the i686 set's "wow64" session).
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "installer_harness.h"

namespace {

class InstallerOnWow64 : public InstallerHarness {};

TEST_F(InstallerOnWow64, RefusesBeforeChangingAnythingWithTheResultOfAnUnsupportedSystem)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64) << "this test needs a WoW64 prefix";
    const std::string settings = "ADMINNAME=" + userName + "\nNOREBOOT\nDESTPATH=" + kTestDestination + "\n";
    struct Case {
        const char* quiet;
        std::vector<std::string> boxes;
    } cases[] = {
        {"QUIET\n", {}},
        {"", {"This is the installation for 32-bit Windows, and this system is 64-bit Windows.\n"
              "Install the 64-bit package on this system."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*c.quiet ? "quiet" : "with boxes");
        std::vector<std::string> texts;
        EXPECT_EQ(6u, RunProgram(settings + c.quiet, texts)) << "the exit status of an unsupported system";
        EXPECT_EQ(c.boxes, texts);
        EXPECT_FALSE(FileExists(std::string(kTestDestination) + "\\ktcfg.cpl"));
        EXPECT_EQ("<missing>", ReadText(HKEY_LOCAL_MACHINE, kProductKey, "InstallPath"));
        for (const char* service : kDriverServices) EXPECT_FALSE(ServiceExists(service)) << service;
    }
}

}  // namespace
