// The clock-select byte (CKS) of the 16950 and the options it holds. No Windows calls here.
#pragma once

#include <cstdint>

struct ClockOptions {
    uint8_t receiveClockSource;  // bits 0-1: 0 normal, 1 DSR#, 2 BDOUT#, 3 TxClk
    uint8_t bdoutEnabled;        // bit 2 clear
    uint8_t receive1x;           // bit 3
    uint8_t dtrPinUse;           // bits 4-5: 0 normal, 1 1x on DTR#, 2 Nx on DTR#
    uint8_t riClockSource;       // bit 6
    uint8_t transmit1x;          // bit 7
};

ClockOptions DecodeCks(uint8_t cks);
uint8_t EncodeCks(const ClockOptions& options);
