#include "data/registry_paths.h"

#include "data/results.h"
#include "resource.h"

char EnumeratorPath[kRegPathChars];
char RunKeyPath[kRegPathChars];
char ProductKeyPath[kRegPathChars];
char SerialMapPath[kRegPathChars];
char ParallelMapPath[kRegPathChars];

HINSTANCE ToolInstance;

void LoadResString(char* buffer, UINT id)
{
    buffer[0] = 0;
    if (LoadStringA(ToolInstance, id, buffer, 260) <= 0) {
        buffer[0] = 0;
        MessageBoxA(nullptr, "Loading string resource failed", kToolCaption, MB_OK);
    }
}

void LoadRegistryPaths()
{
    LoadResString(EnumeratorPath, IDS_ENUMERATOR_PATH);
    LoadResString(RunKeyPath, IDS_RUN_KEY_PATH);
    LoadResString(SerialMapPath, IDS_SERIAL_MAP_PATH);
    LoadResString(ParallelMapPath, IDS_PARALLEL_MAP_PATH);
    LoadResString(ProductKeyPath, IDS_PRODUCT_KEY_PATH);
}
