// The UART table, level conversions and slots.
#include <gtest/gtest.h>

#include <string>

#include "clock_options.h"
#include "level_text.h"
#include "uart_table.h"

namespace {

const UartDescriptor* const k16550 = Descriptor(3);
const UartDescriptor* const k16650 = Descriptor(4);
const UartDescriptor* const k16750 = Descriptor(5);
const UartDescriptor* const k16950 = Descriptor(7);

std::string Format(const UartDescriptor* uart, int kind, int position)
{
    char text[16];
    return FormatLevel(uart, kind, position, text, sizeof text) ? text : "<none>";
}

TEST(UartTable, DescriptorsByTheLowByteOfTheStoredWord)
{
    EXPECT_STREQ(Descriptor(0)->name, "UART ?????");
    EXPECT_STREQ(k16550->name, "UART 16550");
    EXPECT_EQ(Descriptor(0x0807), k16950);  // memory-access bit set
    EXPECT_EQ(Descriptor(8), nullptr);
    EXPECT_EQ(k16950->fifoSize, 128);
    EXPECT_EQ(k16650->defaultReceiveTrigger, 16);
    EXPECT_EQ(k16650->defaultTransmitTrigger, 1);
    EXPECT_EQ(k16650->defaultTransmitBuffer, 32);
}

TEST(UartTable, CapabilitiesDecideTheAutomaticFlowControlPages)
{
    EXPECT_TRUE(HasCapability(k16650, kAutoRtsCts));
    EXPECT_TRUE(HasCapability(k16650, kAutoXonXoff));
    EXPECT_FALSE(HasCapability(k16650, kAutoDtrDsr));
    EXPECT_TRUE(HasCapability(k16750, kAutoRtsCts));
    EXPECT_FALSE(HasCapability(k16750, kAutoXonXoff));
    for (uint8_t pair : {kAutoRtsCts, kAutoDtrDsr, kAutoXonXoff}) {
        EXPECT_TRUE(HasCapability(k16950, pair));
        EXPECT_FALSE(HasCapability(k16550, pair));
        EXPECT_FALSE(HasCapability(Descriptor(6), pair));
    }
}

TEST(UartTable, NearestPositionTiesGoToTheLowerEntry)
{
    EXPECT_EQ(PositionOf(k16550, kReceiveTrigger, 10), 2);
    EXPECT_EQ(PositionOf(k16550, kReceiveTrigger, 11), 2);
    EXPECT_EQ(PositionOf(k16550, kReceiveTrigger, 12), 3);
    EXPECT_EQ(PositionOf(k16550, kReceiveTrigger, 0), 0);
    EXPECT_EQ(PositionOf(k16550, kReceiveTrigger, 99), 3);
    EXPECT_EQ(PositionOf(k16950, kReceiveTrigger, 200), 128);
    EXPECT_EQ(PositionOf(k16950, kTransmitBuffer, 64), 64);
    EXPECT_EQ(PositionOf(k16550, kTransmitTrigger, 5), -1);
}

TEST(UartTable, ValuesSlotsAndMaximaOfTheLevels)
{
    EXPECT_EQ(ValueOf(k16550, kReceiveTrigger, 3), 14);
    EXPECT_EQ(ValueOf(k16550, kReceiveTrigger, 4), -1);
    EXPECT_EQ(ValueOf(k16550, kTransmitTrigger, 0), -1);
    EXPECT_EQ(ValueOf(k16950, kXonLevel, 77), 77);
    EXPECT_EQ(MaximumPosition(k16550, kReceiveTrigger), 3);
    EXPECT_EQ(MaximumPosition(k16550, kTransmitBuffer), 16);
    EXPECT_EQ(MaximumPosition(k16550, kTransmitTrigger), 0);
    EXPECT_EQ(SlotOf(k16550, kTransmitTrigger), -1);
    EXPECT_TRUE(IsFixed(k16550, kTransmitTrigger));
    EXPECT_FALSE(IsFixed(k16550, kReceiveTrigger));
    // The 16650's thresholds follow its receive trigger; the 16950's "on" levels share a slot.
    EXPECT_TRUE(IsFixed(k16650, kXoffLevel));
    EXPECT_EQ(SlotOf(k16650, kRtsOffLevel), 0);
    EXPECT_EQ(ValueOf(k16650, kXonLevel, PositionOf(k16650, kReceiveTrigger, 16)), 8);
    EXPECT_EQ(ValueOf(k16650, kXoffLevel, PositionOf(k16650, kReceiveTrigger, 16)), 24);
    EXPECT_EQ(ValueOf(k16650, kXoffLevel, PositionOf(k16650, kReceiveTrigger, 28)), -1);
    EXPECT_EQ(SlotOf(k16950, kXonLevel), SlotOf(k16950, kDtrOnLevel));
    EXPECT_EQ(SlotOf(k16950, kXoffLevel), SlotOf(k16950, kRtsOffLevel));
    EXPECT_TRUE(IsFixed(k16750, kRtsOffLevel));
    EXPECT_EQ(SlotOf(k16750, kRtsOnLevel), -1);
}

TEST(LevelText, FormatsValuesQuestionMarksAndNothing)
{
    EXPECT_EQ(Format(k16550, kReceiveTrigger, 2), "8");
    EXPECT_EQ(Format(k16550, kTransmitTrigger, 0), "?");
    EXPECT_EQ(Format(k16650, kXoffLevel, 3), "<none>");  // a position without value
    EXPECT_EQ(Format(nullptr, kReceiveTrigger, 0), "<none>");
    EXPECT_EQ(ParseLevel(k16550, kReceiveTrigger, "11"), 2);
    EXPECT_EQ(ParseLevel(k16550, kReceiveTrigger, "14 chars"), 3);
    EXPECT_EQ(ParseLevel(k16550, kTransmitTrigger, "1"), -1);
    char text[8];
    ASSERT_TRUE(FormatTransmitBuffer(15, text, sizeof text));
    EXPECT_STREQ(text, "16");
    EXPECT_EQ(ParseTransmitBuffer("16"), 15);
    EXPECT_EQ(ParseTransmitBuffer("0"), 0);
    EXPECT_EQ(ParseTransmitBuffer("x"), 0);
}

TEST(LevelText, OverspeedIsCountedInEighthsAndStoredPlusOne)
{
    auto format = [](int position) {
        char text[16];
        FormatOverspeed(position, text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(format(0), "0.125");
    EXPECT_EQ(format(7), "1.000");
    EXPECT_EQ(format(11), "1.500");
    EXPECT_EQ(format(255), "32.000");
    EXPECT_EQ(ParseOverspeed("1.5"), 7);  // thousandths: .5 is less than an eighth
    EXPECT_EQ(ParseOverspeed("1.500"), 11);
    EXPECT_EQ(ParseOverspeed("32"), 255);
    EXPECT_EQ(ParseOverspeed("0.125"), 0);
    EXPECT_EQ(ParseOverspeed("0.1"), -1);
    EXPECT_EQ(ParseOverspeed("32.125"), -1);
    EXPECT_EQ(ParseOverspeed("-99999999999"), -1);
    EXPECT_EQ(OverspeedPosition(8), 7);
    EXPECT_EQ(OverspeedPosition(0), 255);
    EXPECT_EQ(OverspeedByte(255), 0);
    EXPECT_EQ(OverspeedByte(OverspeedPosition(1)), 1);
}

TEST(LevelText, TransmitBufferTextsNeverOverflow)
{
    EXPECT_EQ(ParseTransmitBuffer("16"), 15);
    EXPECT_EQ(ParseTransmitBuffer("0"), 0);
    EXPECT_EQ(ParseTransmitBuffer("-3"), -1);
    EXPECT_EQ(ParseTransmitBuffer("-99999999999"), -1);
    EXPECT_EQ(ParseTransmitBuffer("99999999999"), INT32_MAX - 1);
}

TEST(ClockOptions, EveryCksByteDecodesAndEncodesBackTheSame)
{
    const ClockOptions options = DecodeCks(0x42);  // receive clock BDOUT#, RI# clock source
    EXPECT_EQ(options.receiveClockSource, 2);
    EXPECT_EQ(options.bdoutEnabled, 1);
    EXPECT_EQ(options.receive1x, 0);
    EXPECT_EQ(options.dtrPinUse, 0);
    EXPECT_EQ(options.riClockSource, 1);
    EXPECT_EQ(options.transmit1x, 0);
    EXPECT_EQ(DecodeCks(0x04).bdoutEnabled, 0);
    EXPECT_EQ(DecodeCks(0xB8).dtrPinUse, 3);
    for (int cks = 0; cks < 256; ++cks) EXPECT_EQ(EncodeCks(DecodeCks(static_cast<uint8_t>(cks))), cks);
}

TEST(LevelSlots, FirstSeedWinsUntilTheMaskIsClearedAndHighSlotsTakeEverySeed)
{
    int32_t slots[kSlotCount] = {};
    uint8_t mask = 0;
    SeedSlot(slots, mask, 2, 5);
    SeedSlot(slots, mask, 2, 9);
    EXPECT_EQ(slots[2], 5);
    mask = 0;
    SeedSlot(slots, mask, 2, 9);
    EXPECT_EQ(slots[2], 9);
    SeedSlot(slots, mask, 12, 1);
    SeedSlot(slots, mask, 12, 3);
    EXPECT_EQ(slots[12], 3);
    SeedSlot(slots, mask, 16, 7);  // outside: ignored
    SeedSlot(slots, mask, -1, 7);
}

}  // namespace
