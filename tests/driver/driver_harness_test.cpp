// The driver's loading, enumeration, port devices and unloading, run against the fake kernel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_fixture.h"
#include "fake_kernel.h"
#include "port_description.h"

namespace {

using drivertest::Count;
using drivertest::PortKey;
using fk::FakeEnumerator;

constexpr uint32_t kEnumPort = 0x222084, kOpenPort = 0x222094, kStartPort = 0x22208C, kClosePort = 0x222090,
                   kGetPortKey = 0x222088, kGetInterface = 0x222000, kReleaseInterface = 0x222004,
                   kAttach = 0x222098;
constexpr uint32_t kConnectFailed = 0xC0070011, kDisconnectFailed = 0xC0070012;
constexpr uint32_t kKeyRead = 0x20019;

using Driver = drivertest::DriverTest;

TEST_F(Driver, EmptyEnumeratorListLoadsWithoutDevices)
{
    Configure({});
    EXPECT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_TRUE(fk::DeviceNames().empty());
    EXPECT_EQ(fk::PagedCodeLocks(), 0);  // nothing resident beyond what must be
    fk::UnloadDriver();
}

TEST_F(Driver, WithoutProductKeyOrEnumeratorsValueTheDriverDoesNotLoad)
{
    EXPECT_EQ(fk::LoadDriver(), fk::kObjectNameNotFound);
    fk::CreateKey(drivertest::kProductKey);
    EXPECT_EQ(fk::LoadDriver(), fk::kObjectNameNotFound);
    EXPECT_EQ(fk::PoolInUse(), 0u);
    // The unload checks of the fixture find no key left open either.
}

TEST_F(Driver, AnEnumeratorThatCannotBeOpenedIsSkipped)
{
    Enumerator(L"QARIXBUS1", 1);
    Configure({L"NOSUCHBUS", L"QARIXBUS1"});
    EXPECT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::DeviceNames().size(), 1u);
    fk::UnloadDriver();

    fk::Reset();
    Configure({L"NOSUCHBUS"});
    EXPECT_EQ(fk::LoadDriver(), fk::kObjectNameNotFound);
}

TEST_F(Driver, AnEnumeratorThatRefusesTheAttachIsLetGo)
{
    FakeEnumerator& refusing = Enumerator(L"QARIXBUS0", 1);
    refusing.failCode[kAttach] = fk::kUnsuccessful;
    Configure({L"QARIXBUS0"});
    EXPECT_EQ(fk::LoadDriver(), fk::kUnsuccessful);
    EXPECT_EQ(Count(refusing, kEnumPort), 0);
    // The fixture's unload checks find its file object released and its link freed.
}

TEST_F(Driver, CardPortsAreNumberedAfterTheBuiltInOnes)
{
    Enumerator(L"QARIXBUS0", 2);
    Configure({L"QARIXBUS0"});
    fk::SetParallelCount(2);
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::DeviceNames(), (std::vector<std::wstring>{L"\\Device\\ParallelPort3", L"\\Device\\ParallelPort2"}));
    EXPECT_EQ(fk::ParallelCount(), 4u);
    const std::wstring first = PortKey(L"QARIXBUS0", 0);
    EXPECT_EQ(Value(first, L"PortName"), L"LPT3");
    EXPECT_EQ(Value(first, L"DeviceName"), L"ParallelPort2");
    EXPECT_EQ(Value(first, L"DriverName"), L"ktpptnt.sys");
    EXPECT_EQ(Value(PortKey(L"QARIXBUS0", 1), L"PortName"), L"LPT4");

    const fk::PortView port = fk::Ports().back();
    EXPECT_EQ(port.state, 3u);  // started
    EXPECT_TRUE(port.resourcesValid);
    EXPECT_EQ(port.originalController, 0xD000u);
    EXPECT_EQ(port.controller, 0xD000u);
    EXPECT_EQ(port.span, 8u);
    fk::UnloadDriver();
    EXPECT_EQ(fk::ParallelCount(), 2u);
}

TEST_F(Driver, DescriptionsCarryThePortNameInParentheses)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 5);
    fk::SetString(PortKey(L"QARIXBUS0", 1), L"DeviceDesc", L"Printer Port (LPT1)");
    fk::SetString(PortKey(L"QARIXBUS0", 2), L"DeviceDesc", L"Port (x) extra");
    fk::SetValue(PortKey(L"QARIXBUS0", 3), L"DeviceDesc", fk::kRegSz, std::vector<uint8_t>(300, 'a'));  // too long
    fk::SetString(PortKey(L"QARIXBUS0", 3), L"FriendlyName", L"ECP Port");
    fk::SetValue(PortKey(L"QARIXBUS0", 4), L"DeviceDesc", fk::kRegSz, std::vector<uint8_t>(300, 'a'));
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(enumerator.interfacesHeld.size(), 5u);
    const std::wstring expected[] = {L"Parallel Port(LPT1)", L"Printer Port (LPT2)", L"Port (LPT3) extra",
                                     L"ECP Port(LPT4)"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Value(PortKey(L"QARIXBUS0", i), L"DeviceDesc"), expected[i]) << i;
        EXPECT_EQ(Value(PortKey(L"QARIXBUS0", i), L"FriendlyName"), expected[i]) << i;
    }
    EXPECT_EQ(Value(PortKey(L"QARIXBUS0", 4), L"FriendlyName"), L"<missing>");  // nothing readable
    fk::UnloadDriver();
    EXPECT_TRUE(enumerator.interfacesHeld.empty());
}

TEST(PortDescription, CompositionRules)
{
    wchar_t out[kDescriptionChars];
    const auto compose = [&](const wchar_t* description) {
        ComposePortDescription(description, L"LPT3", out, kDescriptionChars);
        return std::wstring(out);
    };
    EXPECT_EQ(compose(L"Parallel Port"), L"Parallel Port(LPT3)");
    EXPECT_EQ(compose(L"Printer Port (LPT1)"), L"Printer Port (LPT3)");
    EXPECT_EQ(compose(L"Port (x) extra"), L"Port (LPT3) extra");
    EXPECT_EQ(compose(L"A ( B"), L"A (LPT3)");
    EXPECT_EQ(compose(L""), L"(LPT3)");
    const std::wstring longText(200, L'd');
    EXPECT_EQ(compose(longText.c_str()), std::wstring(139, L'd'));
    EXPECT_EQ(compose((std::wstring(130, L'd') + L" (LPT1) tail").c_str()),
              (std::wstring(130, L'd') + L" (LPT3) t").substr(0, 139));
}

TEST_F(Driver, EnumeratorNamesUpTo114CharactersAreUsed)
{
    const std::wstring longest(114, L'L'), tooLong(115, L'T');
    FakeEnumerator& used = Enumerator(longest, 1);
    FakeEnumerator& skipped = Enumerator(tooLong, 1);
    Configure({tooLong, longest});
    EXPECT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::DeviceNames().size(), 1u);
    EXPECT_FALSE(used.requests.empty());
    EXPECT_TRUE(skipped.requests.empty());
    fk::UnloadDriver();
}

TEST_F(Driver, EnumerationSelectsPortsByIndexUntilTheEnumeratorRefuses)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 3);
    enumerator.failPortCode[{kOpenPort, 0x101}] = fk::kUnsuccessful;  // skipped
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    std::vector<uint32_t> selectors;
    for (const fk::BusRequest& request : enumerator.requests)
        if (request.code == kEnumPort) selectors.push_back(*reinterpret_cast<const uint32_t*>(request.input.data()));
    EXPECT_EQ(selectors, (std::vector<uint32_t>{0x40000000, 0x40000001, 0x40000002, 0x40000003}));
    EXPECT_EQ(fk::DeviceNames().size(), 2u);
    fk::UnloadDriver();
}

TEST_F(Driver, APendingEnumerationThatFailsLaterEndsTheEnumeration)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 3);
    enumerator.pendingCodes = {kEnumPort, kGetPortKey};
    enumerator.failPortCode[{kEnumPort, 0x40000001}] = fk::kUnsuccessful;
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::DeviceNames().size(), 1u);
    EXPECT_EQ(Count(enumerator, kEnumPort), 2);
    EXPECT_EQ(Value(PortKey(L"QARIXBUS0", 0), L"PortName"), L"LPT1");
    fk::UnloadDriver();
}

TEST_F(Driver, AFailedStartLeavesNoDeviceAndRestoresTheCount)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 2);
    enumerator.failPortCode[{kStartPort, 0x100}] = fk::kUnsuccessful;
    Configure({L"QARIXBUS0"});
    fk::SetParallelCount(1);
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    // The first port's number went to nobody: the second port reuses it.
    EXPECT_EQ(fk::DeviceNames(), std::vector<std::wstring>{L"\\Device\\ParallelPort1"});
    EXPECT_EQ(fk::ParallelCount(), 2u);
    EXPECT_EQ(Count(enumerator, kClosePort), 1);
    EXPECT_TRUE(fk::ErrorLog().empty());
    fk::UnloadDriver();
    EXPECT_EQ(fk::ParallelCount(), 1u);
}

TEST_F(Driver, ResourcesNotAnsweredReleaseTheInterfaceAndFailTheStart)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 2);
    enumerator.ports[0].answersResources = false;
    enumerator.ports[1].answersPortData = false;
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_TRUE(fk::DeviceNames().empty());
    EXPECT_EQ(Count(enumerator, kGetInterface), 2);
    EXPECT_EQ(Count(enumerator, kReleaseInterface), 2);
    EXPECT_TRUE(enumerator.interfacesHeld.empty());
    EXPECT_EQ(fk::ParallelCount(), 0u);
    fk::UnloadDriver();
}

TEST_F(Driver, AFailedInterfaceRequestIsLoggedOnceForThePort)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    enumerator.failCode[kGetInterface] = fk::kUnsuccessful;
    Configure({L"QARIXBUS0"});
    fk::SetParallelCount(2);
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    const std::vector<fk::LogEntry> log = fk::ErrorLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].errorCode, kConnectFailed);
    EXPECT_EQ(log[0].uniqueErrorValue, kConnectFailed);
    EXPECT_EQ(log[0].finalStatus, fk::kUnsuccessful);
    EXPECT_EQ(log[0].sequenceNumber, 1u);
    EXPECT_EQ(log[0].retryCount, 1);
    EXPECT_EQ(log[0].majorFunction, 0);
    EXPECT_EQ(log[0].packet.size(), 48u);
    EXPECT_EQ(log[0].sourceDevice, L"\\Device\\ParallelPort2");
    EXPECT_TRUE(fk::DeviceNames().empty());
    EXPECT_EQ(Count(enumerator, kReleaseInterface), 0);
    fk::UnloadDriver();
}

TEST_F(Driver, ARefusedReleaseIsLoggedAndThePointerDroppedAnyway)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    enumerator.failCode[kReleaseInterface] = fk::kUnsuccessful;
    fk::UnloadDriver();
    ASSERT_EQ(fk::ErrorLog().size(), 1u);
    EXPECT_EQ(fk::ErrorLog()[0].errorCode, kDisconnectFailed);
    EXPECT_TRUE(fk::DeviceNames().empty());
}

TEST_F(Driver, NoErrorLogEntryAvailableMeansNothingLogged)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    enumerator.failCode[kGetInterface] = fk::kUnsuccessful;
    fk::FailErrorLogEntries(true);
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_TRUE(fk::ErrorLog().empty());
    EXPECT_TRUE(fk::DeviceNames().empty());
    fk::UnloadDriver();
}

TEST_F(Driver, UnloadRemovesEveryDeviceAndFreesAllPool)
{
    FakeEnumerator& first = Enumerator(L"QARIXBUS0", 3);
    FakeEnumerator& second = Enumerator(L"QARIXBUS1", 2);
    Configure({L"QARIXBUS0", L"QARIXBUS1"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::DeviceNames().size(), 5u);
    EXPECT_GT(fk::PoolInUse(), 0u);  // the links of the two enumerators
    fk::UnloadDriver();
    EXPECT_TRUE(fk::DeviceNames().empty());
    EXPECT_EQ(fk::PoolInUse(), 0u);
    EXPECT_EQ(Count(first, kClosePort), 3);
    EXPECT_EQ(Count(second, kClosePort), 2);
    EXPECT_TRUE(first.interfacesHeld.empty());
    EXPECT_EQ(fk::ParallelCount(), 0u);
}

TEST_F(Driver, AllocationAndDeviceCreationFailures)
{
    Enumerator(L"QARIXBUS0", 2);
    Configure({L"QARIXBUS0"});
    fk::FailPoolAllocations(1);  // the Enumerators buffer succeeds, the link fails
    EXPECT_EQ(fk::LoadDriver(), fk::kInsufficientResources);
    fk::UnloadDriver();

    fk::Reset();
    Enumerator(L"QARIXBUS0", 2);
    Configure({L"QARIXBUS0"});
    fk::FailPoolAllocations(0);
    EXPECT_EQ(fk::LoadDriver(), fk::kInsufficientResources);
    fk::UnloadDriver();
    EXPECT_TRUE(fk::VerifierFailures().empty());

    fk::Reset();
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 2);
    Configure({L"QARIXBUS0"});
    fk::FailDeviceCreation(true);
    EXPECT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_TRUE(fk::DeviceNames().empty());
    EXPECT_EQ(fk::ParallelCount(), 0u);
    EXPECT_EQ(Count(enumerator, kOpenPort), 2);
    EXPECT_EQ(Count(enumerator, kClosePort), 2);  // what was opened is closed again
    fk::UnloadDriver();
}

TEST_F(Driver, TheRegistryIsOpenedForReadingOnly)
{
    Enumerator(L"QARIXBUS0", 1);
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::RegistryAccessRequested(), std::set<uint32_t>{kKeyRead});
}

TEST_F(Driver, DescriptionsOfUpTo256BytesAreRead)
{
    Enumerator(L"QARIXBUS0", 2);
    const auto text = [](size_t bytes) {
        std::vector<uint8_t> data(bytes);
        for (size_t i = 0; i < bytes; i += 2) data[i] = 'd';
        return data;
    };
    fk::SetValue(PortKey(L"QARIXBUS0", 0), L"DeviceDesc", fk::kRegSz, text(256));  // 128 characters, no terminator
    fk::SetValue(PortKey(L"QARIXBUS0", 1), L"DeviceDesc", fk::kRegSz, text(258));
    fk::SetString(PortKey(L"QARIXBUS0", 1), L"FriendlyName", L"Spare");
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(Value(PortKey(L"QARIXBUS0", 0), L"DeviceDesc"), std::wstring(128, L'd') + L"(LPT1)");
    EXPECT_EQ(Value(PortKey(L"QARIXBUS0", 1), L"DeviceDesc"), L"Spare(LPT2)");
}

TEST_F(Driver, PortsThatCannotBeServedAreSkippedAndClosed)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 3);
    enumerator.ports[0].handle = 0;  // not a port handle
    enumerator.failPortCode[{kStartPort, 0x101}] = 0x40000000;  // informational: not a success
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(fk::DeviceNames(), std::vector<std::wstring>{L"\\Device\\ParallelPort0"});
    EXPECT_EQ(fk::Ports()[0].portHandle, 0x102u);
    EXPECT_EQ(Count(enumerator, kClosePort), 2);
    EXPECT_EQ(fk::ParallelCount(), 1u);
}

TEST_F(Driver, AnInterfaceAnsweredWithoutTableFailsTheStart)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    enumerator.nullInterface = true;
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_TRUE(fk::DeviceNames().empty());
    ASSERT_EQ(fk::ErrorLog().size(), 1u);
    EXPECT_EQ(fk::ErrorLog()[0].errorCode, kConnectFailed);
    EXPECT_EQ(fk::ErrorLog()[0].finalStatus, fk::kUnsuccessful);
    EXPECT_EQ(Count(enumerator, kReleaseInterface), 0);
}

// A warning is no success: the table the I/O manager copied back with it is not taken (and so
// not released).
TEST_F(Driver, AnInterfaceAnsweredWithAWarningFailsTheStart)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    enumerator.warnCode[kGetInterface] = 0x80000005;  // STATUS_BUFFER_OVERFLOW
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_TRUE(fk::DeviceNames().empty());
    ASSERT_EQ(fk::ErrorLog().size(), 1u);
    EXPECT_EQ(fk::ErrorLog()[0].errorCode, kConnectFailed);
    EXPECT_EQ(Count(enumerator, kReleaseInterface), 0);
}

TEST_F(Driver, EnumerationEndsAfterOneRoundOfIndexes)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    enumerator.answersEveryIndex = true;
    enumerator.failCode[kOpenPort] = fk::kUnsuccessful;
    Configure({L"QARIXBUS0"});
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    EXPECT_EQ(Count(enumerator, kEnumPort), 4096);
}

TEST_F(Driver, PortNumbersHaveAtMostFourDigits)
{
    Enumerator(L"QARIXBUS0", 2);
    Configure({L"QARIXBUS0"});
    fk::SetParallelCount(9998);
    ASSERT_EQ(fk::LoadDriver(), fk::kSuccess);
    // LPT9999 fits; the next port would be LPT10000 and is not created.
    EXPECT_EQ(fk::DeviceNames(), std::vector<std::wstring>{L"\\Device\\ParallelPort9998"});
    EXPECT_EQ(Value(PortKey(L"QARIXBUS0", 0), L"PortName"), L"LPT9999");
    EXPECT_EQ(fk::ParallelCount(), 9999u);
}

TEST_F(Driver, BusRequestOutputIsCopiedWholeOnSuccessOnly)
{
    FakeEnumerator& enumerator = Enumerator(L"QARIXBUS0", 1);
    enumerator.ports[0].keyPath = L"ab";
    for (bool pending : {false, true}) {
        enumerator.pendingCodes.clear();
        if (pending) enumerator.pendingCodes.insert(kGetPortKey);
        std::vector<uint8_t> output(64, 0xEE);
        EXPECT_EQ(fk::SendBusRequestTo(enumerator, kGetPortKey, {0x00, 0x01, 0, 0}, output), fk::kSuccess);
        std::vector<uint8_t> expected(64, 0);
        expected[0] = 'a';
        expected[2] = 'b';
        EXPECT_EQ(output, expected);  // all 64 bytes taken from the answer

        std::vector<uint8_t> untouched(64, 0xEE);
        EXPECT_EQ(fk::SendBusRequestTo(enumerator, kGetPortKey, {0x99, 0, 0, 0}, untouched), fk::kInvalidParameter);
        EXPECT_EQ(untouched, std::vector<uint8_t>(64, 0xEE));
    }
}

}  // namespace
