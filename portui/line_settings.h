// The line format of a serial port as the system profile keeps it in section "Ports", for
// example "9600,n,8,1" or "115200,e,7,1.5,x". No Windows calls here.
#pragma once

#include <cstdint>
#include <string>

// Codes as the pages keep them.
enum DataBitsCode : uint8_t { kDataBits5 = 1, kDataBits6 = 2, kDataBits7 = 4, kDataBits8 = 8 };
enum ParityCode : uint8_t { kParityNone = 0, kParityOdd = 1, kParityEven = 2, kParityMark = 3, kParitySpace = 4 };
enum StopBitsCode : uint8_t { kStopBits1 = 0, kStopBits1_5 = 1, kStopBits2 = 2 };
enum FlowControlCode : uint8_t { kFlowNone = 0, kFlowHardware = 1, kFlowXonXoff = 2 };

struct LineSettings {
    int32_t baudRate;
    uint8_t dataBits;
    uint8_t parity;
    uint8_t stopBits;
    uint8_t flowControl;
};

constexpr wchar_t kDefaultLineText[] = L"9600,n,8,1";

// Reads the five fields; missing or unreadable fields take their defaults.
LineSettings ParseLineSettings(const std::wstring& text);

// "%ld,%c,%d,%s" without flow control, "%ld,%c,%d,%s,%c" with it.
std::wstring FormatLineSettings(const LineSettings& settings);
