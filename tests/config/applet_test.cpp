#include <windows.h>
#include <gtest/gtest.h>

#include "guiauto.h"

namespace {

// The Control Panel and other callers find the entry points by name or by ordinal.
TEST(AppletExports, NamesAndOrdinalsAgree)
{
    guiauto::MessageBoxCatcher boxes("ktcfg");
    HMODULE library = LoadLibraryA(KTCFG_PATH);
    ASSERT_NE(library, nullptr) << "cannot load " << KTCFG_PATH;
    EXPECT_TRUE(boxes.Texts().empty());  // every path string was found at load
    const char* names[] = {"CPlApplet", "DllMain", "StartCfgNt", "MakeAutorun"};
    for (int ordinal = 1; ordinal <= 4; ++ordinal) {
        FARPROC byName = GetProcAddress(library, names[ordinal - 1]);
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(byName, GetProcAddress(library, MAKEINTRESOURCEA(ordinal))) << names[ordinal - 1];
    }
    FreeLibrary(library);
}

}  // namespace
