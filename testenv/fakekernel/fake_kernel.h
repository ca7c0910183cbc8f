// The fake kernel that the driver harness links the driver's sources with, as seen from tests.
// No Windows or DDK types here: tests include this header only.
//
// It keeps the kernel's state in memory (devices, requests, events, pool, registry, error log,
// configuration counts), runs pending work when the driver waits, and checks what a driver
// verifier checks; every broken rule is recorded as a verifier failure.
#pragma once

#include <cstdint>
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
int PageEntireDriverCalls();
std::vector<std::wstring> DeviceNames();       // devices the driver created, newest first
int RunDeferredCalls();                        // runs the queued DPCs; how many ran

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

// --- fake bus enumerators ---
struct FakePort {
    uint32_t handle = 0;
    std::wstring keyPath;        // answer of IOCTL_BUS_GET_PORT_KEY
    bool answersPortData = true;   // query 519
    bool answersResources = true;  // query 520
    uint32_t ioBase = 0x378, span = 8, interruptLevel = 7, interruptVector = 7;
};

struct BusRequest {
    uint32_t code;
    std::vector<uint8_t> input;
};

struct FakeEnumerator {
    std::vector<FakePort> ports;
    std::map<uint32_t, Status> failCode;                           // code -> status
    std::map<std::pair<uint32_t, uint32_t>, Status> failPortCode;  // (code, port handle) -> status
    std::set<uint32_t> pendingCodes;  // answered later, when the sender waits
    std::vector<BusRequest> requests;
    std::set<uint32_t> interfacesHeld;  // port handles whose interface was handed out and not released
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
};
std::vector<PortView> Ports();  // the driver's port devices, newest first

// SendBusRequest of the driver on the first enumerator, for tests of the request itself.
Status SendBusRequestTo(FakeEnumerator& enumerator, uint32_t code, std::vector<uint8_t> input,
                        std::vector<uint8_t>& output);

}  // namespace fk
