// The line format in the profile, the numbers typed into the pages, and the stored records.
#include <gtest/gtest.h>

#include <cstring>

#include "line_settings.h"
#include "number_text.h"
#include "port_records.h"

namespace {

std::wstring RoundTrip(const std::wstring& text)
{
    return FormatLineSettings(ParseLineSettings(text));
}

TEST(LineSettings, WellFormedTextsAreWrittenBackTheSame)
{
    EXPECT_EQ(RoundTrip(L"9600,n,8,1"), L"9600,n,8,1");
    EXPECT_EQ(RoundTrip(L"115200,e,7,1.5,x"), L"115200,e,7,1.5,x");
    EXPECT_EQ(RoundTrip(L"300,o,5,2,p"), L"300,o,5,2,p");
    EXPECT_EQ(RoundTrip(L"57600,m,6,1"), L"57600,m,6,1");
    EXPECT_EQ(RoundTrip(L"57600,s,8,1"), L"57600,s,8,1");
    const LineSettings s = ParseLineSettings(L"115200,e,7,1.5,x");
    EXPECT_EQ(s.baudRate, 115200);
    EXPECT_EQ(s.parity, kParityEven);
    EXPECT_EQ(s.dataBits, kDataBits7);
    EXPECT_EQ(s.stopBits, kStopBits1_5);
    EXPECT_EQ(s.flowControl, kFlowXonXoff);
}

TEST(LineSettings, MissingOrUnusableFieldsTakeTheirDefaults)
{
    EXPECT_EQ(RoundTrip(L"19200,n,4,1"), L"19200,n,8,1");
    EXPECT_EQ(RoundTrip(L"9600"), L"9600,n,8,1");
    EXPECT_EQ(RoundTrip(L""), L"9600,n,8,1");
    EXPECT_EQ(RoundTrip(L"  \t"), L"9600,n,8,1");
    EXPECT_EQ(RoundTrip(L" 4800 , E , 7 , 3 , q"), L"4800,n,7,1");  // upper-case parity is not read
    EXPECT_EQ(RoundTrip(L",,,,"), L"9600,n,8,1");
    EXPECT_EQ(RoundTrip(L"2400,e,,2"), L"2400,e,8,2");
    EXPECT_EQ(RoundTrip(L"9600 x,e,7,2"), L"9600,n,8,1");  // text that breaks the form: fields missing
}

TEST(NumberText, LeadingDecimalAndPrefixedNumbers)
{
    EXPECT_EQ(LeadingDecimal("134.5", 19), 134);
    EXPECT_EQ(LeadingDecimal("  -5x", 19), -5);
    EXPECT_EQ(LeadingDecimal("abc", 19), 0);
    EXPECT_EQ(LeadingDecimal("12345", 3), 123);
    EXPECT_EQ(LeadingDecimal("99999999999999999999", 30), INT32_MAX);
    EXPECT_EQ(LeadingDecimal(L"921600", 19), 921600);
    bool found = false;
    EXPECT_EQ(LeadingInteger("0x11", 19, found), 17);
    EXPECT_EQ(LeadingInteger("021", 19, found), 17);
    EXPECT_EQ(LeadingInteger("300", 19, found), 300);
    EXPECT_TRUE(found);
    EXPECT_EQ(LeadingInteger("xyz", 19, found), 0);
    EXPECT_FALSE(found);
}

TEST(PortRecords, FunctionalityOfTheWrongSizeOrVersionTakesTheDefaults)
{
    uint8_t image[kFunctionalityBytes] = {};
    Put16(image, functionality::kVersion, 1);
    Put32(image, functionality::kMaxBaud, 921600);
    Put16(image, functionality::kHighestUart, 7);
    Put16(image, functionality::kFlags, 0x0003);
    uint8_t valid[kFunctionalityBytes];
    std::memcpy(valid, image, sizeof image);
    functionality::Normalise(valid, kFunctionalityBytes);
    EXPECT_EQ(Get32(valid, functionality::kMaxBaud), 921600u);
    EXPECT_EQ(functionality::HighestUart(valid), 7u);

    functionality::Normalise(image, 9);
    EXPECT_EQ(Get32(image, functionality::kMaxBaud), 115200u);
    EXPECT_EQ(functionality::HighestUart(image), 3u);
    EXPECT_EQ(Get16(image, functionality::kFlags), 0x0002);  // memory access cleared, the rest kept

    uint8_t zeroHighest[kFunctionalityBytes] = {1, 0};
    functionality::Normalise(zeroHighest, kFunctionalityBytes);
    EXPECT_EQ(functionality::HighestUart(zeroHighest), 3u);
}

TEST(PortRecords, PortInfoAboveTheHighestTypeIsReplacedByThatTypesDefaults)
{
    uint8_t image[kPortInfoBytes];
    std::memset(image, 0x5A, sizeof image);
    Put16(image, portinfo::kVersion, 1);
    image[portinfo::kUartWord] = 7;
    portinfo::Normalise(image, 3);
    EXPECT_EQ(Get16(image, portinfo::kUartWord), 3);
    EXPECT_EQ(Get16(image, portinfo::kReceiveTrigger), 8);
    EXPECT_EQ(Get16(image, portinfo::kTransmitBuffer), 16);
    EXPECT_EQ(Get16(image, portinfo::kTransmitTrigger), 0);
    EXPECT_EQ(Get16(image, portinfo::kFlowFlags), 0);
    EXPECT_EQ(image[portinfo::kReceiveXoff], 0);

    Put16(image, portinfo::kVersion, 1);
    Put16(image, portinfo::kUartWord, 0x0802);  // 16450 with memory access: kept
    Put16(image, portinfo::kFlowFlags, 0x00FF);
    portinfo::Normalise(image, 3);
    EXPECT_EQ(Get16(image, portinfo::kUartWord), 0x0802);
    EXPECT_EQ(Get16(image, portinfo::kFlowFlags), 0x00FF);

    Put16(image, portinfo::kVersion, 2);
    portinfo::Normalise(image, 7);
    EXPECT_EQ(Get16(image, portinfo::kUartWord), 7);
    EXPECT_EQ(Get16(image, portinfo::kReceiveTrigger), 80);
}

}  // namespace
