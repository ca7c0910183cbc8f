#include "clock_options.h"

ClockOptions DecodeCks(uint8_t cks)
{
    ClockOptions options;
    options.receiveClockSource = cks & 0x03;
    options.bdoutEnabled = (cks & 0x04) ? 0 : 1;
    options.receive1x = (cks >> 3) & 1;
    options.dtrPinUse = (cks >> 4) & 0x03;
    options.riClockSource = (cks >> 6) & 1;
    options.transmit1x = (cks >> 7) & 1;
    return options;
}

uint8_t EncodeCks(const ClockOptions& options)
{
    return static_cast<uint8_t>(((options.transmit1x & 1) << 7) | ((options.riClockSource & 1) << 6) |
                                ((options.dtrPinUse & 0x03) << 4) | ((options.receive1x & 1) << 3) |
                                ((options.bdoutEnabled ? 0 : 1) << 2) | (options.receiveClockSource & 0x03));
}
