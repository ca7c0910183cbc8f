// The fake kernel that the driver harness links the driver's sources with, as seen from tests.
// No Windows or DDK types here: tests include this header only.
//
// It keeps the kernel's state in memory (devices, requests, events, pool, registry, error log,
// configuration counts), runs pending work when the driver waits, and checks what a driver
// verifier checks; every broken rule is recorded as a verifier failure.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fk {

using Status = uint32_t;  // NTSTATUS

constexpr Status kSuccess = 0x00000000;
constexpr Status kPending = 0x00000103;
constexpr Status kUnsuccessful = 0xC0000001;
constexpr Status kNoMoreEntries = 0x8000001A;
constexpr Status kObjectNameNotFound = 0xC0000034;
constexpr Status kInsufficientResources = 0xC000009A;
constexpr Status kInvalidParameter = 0xC000000D;

// --- the kernel ---
void Reset();                                  // a fresh kernel, before every test
std::vector<std::string> VerifierFailures();  // rules broken so far
void SetParallelCount(unsigned count);
unsigned ParallelCount();
void FailPoolAllocations(int afterSuccesses);  // the next allocations after that many succeed fail
void FailDeviceCreation(bool fail);
void FailErrorLogEntries(bool fail);           // the system cannot supply entries
size_t PoolInUse();                            // allocations not freed
std::vector<std::wstring> DeviceNames();       // devices the driver created, newest first
int PagedCodeLocks();                          // the driver's pageable code is resident while above 0

// Deferred calls run on their own thread at DISPATCH_LEVEL. Waits until none is queued or running
// and returns how many ran since Reset.
int WaitForDeferredCalls();
// While held, queued deferred calls wait (a slow deferred-call thread); WaitForDeferredCalls
// does not wait for them.
void HoldDeferredCalls(bool hold);
// Runs work once, at the start of the next call synchronised with an interrupt that runs routine,
// before the interrupt's lock is taken: another client acting just before it.
void BeforeSynchronisedCall(const void* routine, std::function<void()> work);

// Levels as the kernel numbers them. The calling thread's level, for tests that act as a client
// calling the driver's routines at a raised level: RunAtLevel raises, checks that routine may run
// there, runs work and lowers again.
constexpr uint8_t kPassiveLevel = 0, kDispatchLevel = 2;
uint8_t CurrentLevel();
void RunAtLevel(uint8_t level, const void* routine, const std::function<void()>& work);

struct LogEntry {
    std::vector<uint8_t> packet;  // the IO_ERROR_LOG_PACKET as written
    std::wstring sourceDevice;     // name of the device object it was allocated for
    uint32_t errorCode, uniqueErrorValue, finalStatus, sequenceNumber;
    uint8_t majorFunction, retryCount;
};
std::vector<LogEntry> ErrorLog();

// --- the registry (absolute kernel paths, for example \Registry\Machine\SOFTWARE\Tervane\Qarix) ---
constexpr uint32_t kRegSz = 1, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7;
void SetValue(const std::wstring& key, const std::wstring& name, uint32_t type, const std::vector<uint8_t>& data);
void SetString(const std::wstring& key, const std::wstring& name, const std::wstring& text);
void SetMultiString(const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& texts);
void CreateKey(const std::wstring& key);
std::optional<std::wstring> StringValue(const std::wstring& key, const std::wstring& name);
int OpenRegistryHandles();
std::set<uint32_t> RegistryAccessRequested();  // access masks of every key the driver opened

// --- fake bus enumerators ---
struct FakePort {
    uint32_t handle = 0;
    std::wstring keyPath;        // answer of IOCTL_BUS_GET_PORT_KEY
    bool answersPortData = true;   // query 519
    bool answersResources = true;  // query 520
    uint32_t ioBase = 0x378, span = 8, interruptLevel = 7, interruptVector = 7;
    bool hasInterrupt = false;  // word 6 of the resources: an interrupt object, or null
};

struct BusRequest {
    uint32_t code;
    std::vector<uint8_t> input;
};

struct FakeEnumerator {
    std::vector<FakePort> ports;
    std::map<uint32_t, Status> failCode;                           // code -> status
    std::map<uint32_t, Status> warnCode;  // code -> a warning status, answered with the output all the same
    std::map<std::pair<uint32_t, uint32_t>, Status> failPortCode;  // (code, port handle) -> status
    std::set<uint32_t> pendingCodes;  // answered later, when the sender waits
    std::vector<BusRequest> requests;
    std::set<uint32_t> interfacesHeld;  // port handles whose interface was handed out and not released
    int interruptConnects = 0, interruptDisconnects = 0;
    std::set<uint32_t> interruptsRegistered;  // ports whose interrupt routine is registered
    bool refusesInterrupts = false;           // ConnectInterrupt answers 0
    bool answersEveryIndex = false;  // IOCTL_BUS_ENUM_PORT never refuses: index n is port n modulo the count
    bool nullInterface = false;      // IOCTL_BUS_GET_PORT_INTERFACE succeeds without a table
};

// Creates an enumerator device reachable as \DosDevices\<name>; the returned object stays valid
// until Reset.
FakeEnumerator& AddEnumerator(const std::wstring& dosName);

// --- the driver under test ---
Status LoadDriver();  // DriverEntry
void UnloadDriver();  // the unload routine, then the leak checks

struct PortView {
    std::wstring deviceName;
    uint32_t portHandle, state;
    bool resourcesValid, interfaceHeld;
    uint64_t originalController;
    uintptr_t controller;
    uint32_t span;
    int32_t workQueueCount;
    uint32_t interruptRefCount;
    bool hasInterrupt;
    size_t isrEntries;  // clients' interrupt routines in the port's list
};
std::vector<PortView> Ports();  // the driver's port devices, newest first
PortView PortNamed(const std::wstring& deviceName);  // the ISR list is counted in the interrupt's lock
int32_t WorkQueueCount(const std::wstring& deviceName);  // a glance, without any lock
int32_t PortInfoUsers();        // the driver's count of port information grants
// How many interrupt-synchronised calls were made on the port's interrupt object.
int SynchronisedCalls(const std::wstring& deviceName);
// Runs work inside the port's interrupt lock, as a client's interrupt routine would.
void SynchroniseWithInterrupt(const std::wstring& deviceName, const std::function<void()>& work);
// The port's interrupt, as the enumerator services it on its interrupt thread: what the driver's
// routine answered (1 claimed, 0 not), or -1 when no routine is registered.
int FireInterrupt(const std::wstring& deviceName);
// Looks at the work queue and its count holding the cancel spin lock (and the interrupt's lock
// while interrupts are connected); empty when they agree, else what was seen.
std::string CheckWorkQueue(const std::wstring& deviceName);

// --- clients of the port devices ---
// Requests are sent as a client of the port's device would send them, from any thread. A request
// that the driver does not return pending must be complete when the dispatch routine returns; one
// returned pending must be marked pending.
struct Completion {
    Status status = kPending;
    uintptr_t information = 0;
    std::vector<uint8_t> output;  // the system buffer's first outputLength bytes
    int boost = 0;
    int order = 0;  // the kernel's count of completed client requests when this one completed
};
struct Sent {
    uint64_t request;
    Status returned;
};
uint64_t OpenFile(const std::wstring& deviceName, Status* created);  // IRP_MJ_CREATE
Status CleanupFile(uint64_t file);                                    // IRP_MJ_CLEANUP
Status CloseFile(uint64_t file);                                      // IRP_MJ_CLOSE; the file goes
// cancelled: the request is already marked cancelled when it reaches the driver.
Sent SendControl(uint64_t file, uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                 bool cancelled = false);
bool IsComplete(uint64_t request);
Completion WaitForCompletion(uint64_t request, int timeoutMs = 10000);  // records a failure on time-out
bool CancelRequest(uint64_t request);                                   // IoCancelIrp
bool InPageableCode(const void* code);  // in a section of the driver that is not always resident
// What clients did wrong, as the harness saw it (the driver must survive it).
void ReportMisuse(const std::string& what);
std::vector<std::string> ClientMisuse();

// SendBusRequest of the driver on the first enumerator, for tests of the request itself.
Status SendBusRequestTo(FakeEnumerator& enumerator, uint32_t code, std::vector<uint8_t> input,
                        std::vector<uint8_t>& output);

}  // namespace fk
