#pragma once

// A simulated calculator of the family on the classic link protocol: it holds folders and
// variables in memory and answers packets as the calculator does, with a setting for each
// refusal, for silence, for a device that goes away and for damaged answers.

#include "core/link/dbus_link.h"

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
    explicit SimCalc(LinkModel m, bool on_usb = false) : model(m), usb(on_usb) {}
    LinkModel model;
    bool usb;                        // the TI-89 Titanium's own USB protocol
    std::vector<SimVar> vars;
    unsigned char refusal = 0;       // SKP code answering every RTS, 0 for none
    bool silent = false;             // answers nothing
    std::size_t gone_after = SIZE_MAX;  // bytes taken before the device goes away
    bool damaged = false;            // its data packets carry a wrong sum
    bool out_of_turn = false;        // answers RTS with CTS alone (over USB, with a variable)
    bool delays = false;             // over USB, asks for time before each acknowledgement

    Bytes log;                       // every byte the computer sent
    int zero_length_writes = 0;
    std::deque<unsigned char> out;   // what the calculator has to send
    bool gone = false;

    // Takes bytes from the computer; false once the device is gone.
    bool Take(const unsigned char* data, std::size_t n);

private:
    Bytes in_;
    std::vector<Bytes> outbox_;  // the XDP data still to send
    std::size_t next_ = 0;
    unsigned char last_ = 0;     // the command the calculator sent last
    SimVar pending_;
    void Answer(unsigned char cmd, const unsigned char* data, std::size_t n);
    void Send(unsigned char cmd, const Bytes& data = {}, bool carries = false);
    // The USB protocol: raw packets in, virtual packets answered.
    std::uint32_t raw_max_ = 0;
    Bytes vin_;
    std::deque<Bytes> raw_out_;      // raw packets waiting for the computer's acknowledgement
    bool in_flight_ = false;
    void TakeRaw(unsigned char type, const Bytes& data);
    void AnswerVirtual(std::uint16_t type, const Bytes& data);
    void SendVirtual(std::uint16_t type, const Bytes& data);
    void Release();
};

// The calculator's machine ID toward the computer.
unsigned char CalcId(LinkModel model);
