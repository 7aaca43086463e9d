#pragma once

// A simulated calculator of the family, on the classic link protocol or (the TI-89 Titanium)
// its own USB protocol: it holds folders and variables in memory and answers as the calculator
// does, with a setting for each refusal, for silence, for going away and for damaged answers.

#include "core/link/link_types.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

struct SimVar {
    std::string folder, name;
    unsigned char type, attribute;
    Bytes stored;  // as the calculator holds it: the big-endian size, then the data
};

struct SimCalc {
    LinkModel model;
    bool usb, delays;                   // delays: asks for time before it acknowledges (USB)
    std::vector<SimVar> vars;
    unsigned refusal = 0;               // the code refusing every variable sent, 0 for none
    bool silent = false, damaged = false, out_of_turn = false;  // out of turn: answers a variable sent with the wrong packet
    std::size_t gone_after = SIZE_MAX;  // bytes taken before the device goes away

    Bytes log, out;                     // every byte the computer sent, and what the calculator sends
    int zero_length_writes = 0;

    // Takes bytes from the computer; false once the device is gone.
    bool Take(const unsigned char* data, std::size_t n);

    // The simulation's own state.
    Bytes in_, vin_;
    std::vector<Bytes> outbox_;  // classic protocol: the data still to send
    std::size_t next_ = 0;
    std::uint32_t raw_max_ = 0;  // USB: the size of a raw packet
    SimVar pending_;
};
