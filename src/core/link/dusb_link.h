#pragma once

// The TI-89 Titanium's own USB protocol (USB 0451:E004) as a state machine over byte buffers,
// used as the classic one is (see dbus_link.h).
//
// Raw packets: a 32-bit big-endian size, a type (1 buffer size request, 2 buffer size
// allocation, 3 virtual data with more to come, 4 the last of it, 5 acknowledgement) and the
// data. The computer asks for a buffer size and the calculator allots one; virtual packets (a
// 32-bit size, a 16-bit type and the data) are cut into raw packets of that size, each
// acknowledged by the other side before the next goes.

#include "core/link/link_types.h"
#include "core/var_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The largest raw packet's data, and the size the computer asks for.
inline constexpr std::size_t kDusbMaxRaw = 1023;
inline constexpr std::uint32_t kDusbAskedBuffer = 1024;

struct DusbLink {
    LinkState state;
    bool zero_length_after;  // the packet just taken must be followed by a zero-length write
    const char* awaited;
    std::uint64_t acknowledged;
    std::uint64_t total;
    char failure[128];

    // Internals.
    unsigned char operation;
    const unsigned char* script;
    std::size_t step;
    std::span<const Variable> variables;
    std::size_t current;
    std::span<LinkEntry> entries;
    std::size_t entry_count;
    char folder[9], name[9];
    unsigned char request_type;
    std::uint32_t raw_max;      // the data of a raw packet, as the calculator allotted
    std::uint64_t deadline;
    std::size_t vout_size, vout_sent;  // the virtual packet being sent, and how much went
    bool vout_last;                    // its last raw packet went
    std::size_t in_size;               // of the raw packet coming in
    std::size_t vin_size;              // of the virtual packet coming in
    std::size_t out_size, out_taken;
    std::size_t received_size;
    unsigned char received_type;
    unsigned char in[5 + kDusbMaxRaw];
    unsigned char out[2 * (5 + kDusbMaxRaw)];
    unsigned char vout[6 + 65536];
    unsigned char vin[6 + 65536 + kDusbMaxRaw];
};

// As DbusStartSend, DbusStartList and DbusStartReceive.
void DusbStartSend(DusbLink& link, std::span<const Variable> variables, std::uint64_t now);
void DusbStartList(DusbLink& link, std::span<LinkEntry> entries, std::uint64_t now);
void DusbStartReceive(DusbLink& link, const char* folder, const char* name, unsigned char type,
                      std::uint64_t now);

// The next raw packet to send, as one bulk write (empty when none): call again until empty.
// When zero_length_after is set, a zero-length write must follow it: the calculator waits for
// one after a write of a whole number of 64-byte USB packets in a virtual packet of more than
// 1,076 bytes (libticalcs2 does the same; shorter ones are known to pass without).
std::span<const unsigned char> DusbTakeOutput(DusbLink& link, std::uint64_t now);

// As DbusFeed: `bytes` are what the calculator sent, whole raw packets or parts of them.
void DusbFeed(DusbLink& link, std::span<const unsigned char> bytes, std::uint64_t now);

void DusbDeviceGone(DusbLink& link);

inline std::size_t DusbListCount(const DusbLink& link) { return link.entry_count; }

// The received variable, valid while `link` lives.
Variable DusbReceived(const DusbLink& link);
