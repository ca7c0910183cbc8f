#include <gtest/gtest.h>

#include <string>

#include "data/device_names.h"

namespace {

const char kCard[] = "BUS_0001&DEV_000A&FUN_0002&VEN_5154&DID_0141";

TEST(DeviceNames, CardKeyNameNeedsExactly44CharactersAndFourTags)
{
    EXPECT_TRUE(IsCardKeyName(kCard));
    EXPECT_FALSE(IsCardKeyName("BUS_0001&DEV_000A&FUN_0002&VEN_5154&DID_014"));    // 43
    EXPECT_FALSE(IsCardKeyName("BUS_0001&DEV_000A&FUN_0002&VEN_5154&DID_01411"));  // 45
    EXPECT_FALSE(IsCardKeyName("BUS_0001&DEV_000A&FUN_0002&XXX_5154&DID_0141"));   // no VEN_
    // DID_ is not needed to look like a card, only to parse as one.
    EXPECT_TRUE(IsCardKeyName("BUS_0001&DEV_000A&FUN_0002&VEN_5154&XXX_0141"));
    EXPECT_FALSE(IsCardKeyName(""));
}

TEST(DeviceNames, ParseCardIdReadsTheFiveNumbers)
{
    CardId id{};
    ASSERT_TRUE(ParseCardId(kCard, id));
    EXPECT_EQ(id.bus, 0x0001);
    EXPECT_EQ(id.device, 0x000A);
    EXPECT_EQ(id.function, 0x0002);
    EXPECT_EQ(id.vendor, 0x5154);
    EXPECT_EQ(id.deviceId, 0x0141);

    ASSERT_TRUE(ParseCardId("BUS_ffff&DEV_000a&FUN_0002&VEN_5154&DID_FFFF", id));
    EXPECT_EQ(id.bus, 0xFFFF);
    EXPECT_EQ(id.device, 0x000A);
    EXPECT_EQ(id.deviceId, 0xFFFF);
}

TEST(DeviceNames, ParseCardIdFailsOnTagsOutOfOrderOrMissing)
{
    CardId id{};
    // Passes the name test, but DEV_ comes before BUS_.
    const char outOfOrder[] = "DEV_000A&BUS_0001&FUN_0002&VEN_5154&DID_0141";
    ASSERT_TRUE(IsCardKeyName(outOfOrder));
    EXPECT_FALSE(ParseCardId(outOfOrder, id));
    EXPECT_FALSE(ParseCardId("BUS_0001&DEV_000A&FUN_0002&VEN_5154&XXX_0141", id));
    EXPECT_FALSE(ParseCardId("BUS_0001&DEV_000A&FUN_0002&VEN_5154&XXXXDID_", id));  // nothing after
}

TEST(DeviceNames, NonHexadecimalFieldReadsAsZeroAndShortFieldsAsFarAsTheyGo)
{
    CardId id{};
    ASSERT_TRUE(ParseCardId("BUS_zzzz&DEV_000A&FUN_0002&VEN_5154&DID_0141", id));
    EXPECT_EQ(id.bus, 0);
    EXPECT_EQ(id.device, 0x000A);
    ASSERT_TRUE(ParseCardId("BUS_0001&DEV_000A&FUN_0002&VEN_5154&xxxDID_12", id));
    EXPECT_EQ(id.deviceId, 0x12);
}

TEST(DeviceNames, PortKeyNameIsExactlyFourCharacters)
{
    EXPECT_TRUE(IsPortKeyName("0000"));
    EXPECT_TRUE(IsPortKeyName("ab c"));
    EXPECT_FALSE(IsPortKeyName("000"));
    EXPECT_FALSE(IsPortKeyName("00001"));
}

TEST(DeviceNames, LastPathComponent)
{
    EXPECT_STREQ(LastPathComponent("\\DosDevices\\LPT1"), "LPT1");
    EXPECT_STREQ(LastPathComponent("COM3"), "COM3");
    EXPECT_STREQ(LastPathComponent("trailing\\"), "");
}

}  // namespace
