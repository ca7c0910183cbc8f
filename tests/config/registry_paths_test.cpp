#include <gtest/gtest.h>

#include "data/registry_paths.h"
#include "guiauto.h"
#include "resource.h"

namespace {

TEST(RegistryPaths, ComeFromTheToolsStringTable)
{
    EXPECT_STREQ(EnumeratorPath, "SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS");
    EXPECT_STREQ(RunKeyPath, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_STREQ(ProductKeyPath, "Software\\Tervane\\Qarix");
    EXPECT_STREQ(SerialMapPath, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
    EXPECT_STREQ(ParallelMapPath, "HARDWARE\\DEVICEMAP\\PARALLEL PORTS");
    char text[kRegPathChars];
    LoadResString(text, IDS_APPLET_NAME);
    EXPECT_STREQ(text, "Qarix PCI");
    LoadResString(text, IDS_APPLET_INFO);
    EXPECT_STREQ(text, "Tervane Configuration Tool");
}

TEST(RegistryPaths, StringThatCannotBeLoadedIsSaidAndLeavesTheBufferEmpty)
{
    guiauto::MessageBoxCatcher boxes("ktcfg");
    char text[kRegPathChars] = "stale";
    LoadResString(text, 4711);
    EXPECT_STREQ(text, "");
    ASSERT_EQ(boxes.Texts(), std::vector<std::string>{"Loading string resource failed"});
    EXPECT_EQ(boxes.Boxes()[0].icon, guiauto::BoxIcon::None);
}

}  // namespace
