#pragma once

// A simulated calculator of the family, on the classic link protocol or (the TI-89 Titanium)
// its own USB protocol: it holds folders and variables in memory and answers as the calculator
// does, with a setting for each refusal, for silence, for going away and for damaged answers.

#include "core/link/link_types.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

struct SimVar {
    std::string folder, name;
    unsigned char type, attribute;
    Bytes stored;  // as the calculator holds it: the big-endian size, then the data
};

struct SimCalc {
    SimCalc(LinkModel m, bool on_usb) : model(m), usb(on_usb) {}
    LinkModel model;
    bool usb;
    std::vector<SimVar> vars;
    unsigned refusal = 0;               // the code refusing every variable sent, 0 for none
    bool silent = false, damaged = false, delays = false;  // delays: asks for time (USB)
    bool out_of_turn = false;           // answers a variable sent with a packet out of turn
    std::size_t gone_after = SIZE_MAX;  // bytes taken before the device goes away

    Bytes log;                          // every byte the computer sent
    int zero_length_writes = 0;
    std::deque<unsigned char> out;      // what the calculator sends

    // Takes bytes from the computer; false once the device is gone.
    bool Take(const unsigned char* data, std::size_t n);

private:
    Bytes in_, vin_;
    std::vector<Bytes> outbox_;  // classic protocol: the data still to send
    std::size_t next_ = 0;
    unsigned char last_ = 0;
    std::deque<Bytes> raw_out_;  // USB: raw packets waiting for the computer's acknowledgement
    bool in_flight_ = false;
    std::uint32_t raw_max_ = 0;
    SimVar pending_;
    void Answer(unsigned char cmd, const Bytes& d), Send(unsigned char cmd, const Bytes& data = {}, bool carries = false);
    void AnswerVirtual(std::uint16_t type, const Bytes& d), SendVirtual(std::uint16_t type, const Bytes& data), Release();
    bool Store(unsigned& code);
    std::vector<std::string> Folders() const;
};
