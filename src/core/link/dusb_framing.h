#pragma once

// The framing of the TI-89 Titanium's own USB protocol, apart from what the
// two sides say through it. Raw packets: a 32-bit big-endian size, a type (1 buffer size
// request, 2 buffer size allocation, 3 virtual data with more to come, 4 the last of it,
// 5 acknowledgement) and the data. The computer asks for a buffer size and the calculator allots
// one; virtual packets (a 32-bit size, a 16-bit type and the data) are cut into raw packets of
// that size, each acknowledged by the other side before the next goes.

#include "core/link/link_machine.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The largest raw packet's data, and the largest buffer the computer asks for (libticalcs2's
// dusb_send_buf_size_request asks no more).
inline constexpr std::size_t kDusbMaxRaw = 1023;
inline constexpr std::uint32_t kDusbAskedBuffer = 1024;

// What a raw packet from the calculator means to the conversation.
enum class DusbEvent : unsigned char {
    none,       // nothing yet
    allotted,   // the buffer asked for was allotted
    sent,       // the virtual packet sent went whole, each raw packet acknowledged
    received    // a virtual packet came whole: vin holds it, vin_whole bytes
};

struct DusbFraming {
    std::uint32_t raw_max;          // the data of a raw packet, as the calculator allotted
    bool awaiting_buffer;           // a buffer size was asked for
    std::size_t vout_size, vout_sent;  // the virtual packet being sent, and how much went
    bool vout_last;                 // its last raw packet went
    bool vout_counts;               // its data are a variable's, for the progress
    std::uint64_t data_queued;      // a variable's data bytes in the raw packets queued, not taken
    std::size_t in_size;            // of the raw packet coming in
    std::size_t vin_size;           // of the virtual packet coming in
    std::size_t vin_whole;          // of the virtual packet that came whole
    std::size_t out_size, out_taken;
    unsigned char in[5 + kDusbMaxRaw];
    unsigned char out[2 * (5 + kDusbMaxRaw)];
    unsigned char vout[6 + 65536];
    unsigned char vin[6 + 65536 + kDusbMaxRaw];
};

void DusbFramingReset(DusbFraming& f);

// Asks the calculator for a buffer of `size` bytes, kDusbAskedBuffer at most.
void DusbAskBuffer(DusbFraming& f, LinkMachine& m, std::uint32_t size);

// Starts sending a virtual packet of `type` whose `n` data bytes are already at vout + 6 (a
// variable's data when `counts`).
void DusbSendVirtual(DusbFraming& f, LinkMachine& m, std::uint16_t type, std::size_t n, bool counts);

// The next raw packet to write (empty when none), the variable's data bytes it holds, and
// whether a zero-length write must follow it: the calculator waits for one after the last raw
// packet of a virtual packet of more than 1,076 bytes when that raw packet is a whole number of
// 64-byte USB packets (libticalcs2's workaround_send).
std::span<const unsigned char> DusbTakeRaw(DusbFraming& f, bool& zero_length_after, std::uint64_t& data_bytes);

// Takes what the calculator sent from `bytes` at `at` on, acknowledging its raw packets and
// sending ours in turn, until a raw packet means something to the conversation or the bytes
// run out (none).
DusbEvent DusbTakeBytes(DusbFraming& f, LinkMachine& m, std::span<const unsigned char> bytes, std::size_t& at,
                        std::uint64_t now);
