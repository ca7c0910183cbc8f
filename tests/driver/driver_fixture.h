// What the driver tests share: a fresh fake kernel per test, fake enumerators whose ports have
// registry keys, and the checks a verifier makes when the driver unloads.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_kernel.h"

namespace drivertest {

inline const std::wstring kProductKey = L"\\Registry\\Machine\\SOFTWARE\\Tervane\\Qarix";

inline std::wstring PortKey(const std::wstring& enumerator, int port)
{
    return L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\QARIXBUS\\" + enumerator + L"\\" +
           std::to_wstring(port);
}

inline int Count(const fk::FakeEnumerator& enumerator, uint32_t code)
{
    int count = 0;
    for (const fk::BusRequest& request : enumerator.requests) count += request.code == code;
    return count;
}

class DriverTest : public testing::Test {
protected:
    void SetUp() override { fk::Reset(); }
    // Every test ends with the unload checks, also when the driver did not load.
    void TearDown() override
    {
        fk::UnloadDriver();
        for (const std::string& failure : fk::VerifierFailures()) ADD_FAILURE() << "verifier: " << failure;
        for (const std::string& misuse : fk::ClientMisuse())
            if (!expectMisuse_) ADD_FAILURE() << "client misuse: " << misuse;
    }

    // An enumerator with ports whose keys hold a DeviceDesc.
    fk::FakeEnumerator& Enumerator(const std::wstring& name, int ports,
                                   const std::wstring& description = L"Parallel Port")
    {
        fk::FakeEnumerator& enumerator = fk::AddEnumerator(name);
        for (int i = 0; i < ports; ++i) {
            fk::FakePort port;
            port.handle = 0x100 + static_cast<uint32_t>(i);
            port.keyPath = PortKey(name, i);
            port.ioBase = 0xD000 + 0x10 * static_cast<uint32_t>(i);
            fk::CreateKey(port.keyPath);
            if (!description.empty()) fk::SetString(port.keyPath, L"DeviceDesc", description);
            enumerator.ports.push_back(port);
        }
        return enumerator;
    }
    static void Configure(const std::vector<std::wstring>& names)
    {
        fk::SetMultiString(kProductKey, L"Enumerators", names);
    }
    static std::wstring Value(const std::wstring& key, const std::wstring& name)
    {
        return fk::StringValue(key, name).value_or(L"<missing>");
    }
    void ExpectMisuse() { expectMisuse_ = true; }

private:
    bool expectMisuse_ = false;
};

}  // namespace drivertest
