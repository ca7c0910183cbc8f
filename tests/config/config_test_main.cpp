// Test programs of the tool's data layer carry the tool's resources themselves and load its
// registry paths as the library does when it is loaded.
#include <gtest/gtest.h>

#include "data/registry_paths.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ToolInstance = GetModuleHandleA(nullptr);
    LoadRegistryPaths();
    return RUN_ALL_TESTS();
}
