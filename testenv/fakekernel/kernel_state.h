// Internal state of the fake kernel, shared by its parts. Compiled against the DDK headers.
#pragma once

#include <ntddk.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fake_kernel.h"

namespace fk {

struct PoolBlock {
    size_t size;
    ULONG tag;
    POOL_TYPE type;
};

struct NamedObject {
    PDEVICE_OBJECT device;
    FakeEnumerator* enumerator;  // for enumerator devices
};

struct Kernel {
    std::vector<std::string> failures;
    CONFIGURATION_INFORMATION configuration = {};
    std::map<void*, PoolBlock> pool;
    int poolSuccessesBeforeFailure = -1;  // -1: no failure injected
    bool failDeviceCreation = false;
    bool failErrorLog = false;
    int pageEntireDriverCalls = 0;
    std::map<std::wstring, NamedObject> namespace_;  // upper-cased object names
    std::map<PDEVICE_OBJECT, std::wstring> deviceNames;
    std::map<PFILE_OBJECT, int> fileObjects;  // reference counts
    std::set<PIRP> liveIrps;
    std::set<PIRP> finishedIrps;  // kept, so that a second completion is recognised
    std::deque<std::function<void()>> pendingWork;
    std::vector<LogEntry> errorLog;
    int cancelLockDepth = 0;
    std::deque<PRKDPC> queuedDpcs;
    std::vector<std::unique_ptr<FakeEnumerator>> enumerators;
    DRIVER_OBJECT enumeratorDriver = {};
    DRIVER_OBJECT driver = {};
    bool driverLoaded = false;
};

Kernel& K();
void Fail(const std::string& rule);
std::wstring Upper(const std::wstring& text);
std::wstring FromUnicodeString(PCUNICODE_STRING string);

// Registers a device under a name in the object namespace.
void RegisterName(const std::wstring& name, PDEVICE_OBJECT device, FakeEnumerator* enumerator);

// Runs one piece of pending work (a request an enumerator answers later); false when none.
bool RunPendingWork();

// The registry's part of Reset and of the leak checks.
void ResetRegistry();

}  // namespace fk
