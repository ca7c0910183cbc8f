// sheethost <provider dll> <key path below HKEY_LOCAL_MACHINE>: shows the property sheet that the
// provider builds for that device key, as the configuration tool would.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "sheet_host.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: sheethost <provider dll> <key path>\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    sheethost::Sheet sheet(argv[1]);
    if (!sheet.Loaded()) {
        std::fprintf(stderr, "sheethost: %s has no EnumPropPages\n", argv[1]);
        return 1;
    }
    if (!sheet.AddPages(argv[2])) {
        std::fprintf(stderr, "sheethost: the provider added no page for %s\n", argv[2]);
        return 1;
    }
    sheet.Show(nullptr, L"Port properties");
    std::printf("result word %u\n", sheet.Result());
    return 0;
}
