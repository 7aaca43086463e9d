#pragma once

// The family's classic link protocol, as the TI-GRAPH LINK USB cable (SilverLink) carries it,
// as a state machine over byte buffers: the caller feeds in what the calculator sent and the
// time, takes what to send next, and reads what is awaited, the progress and, at the end,
// success or one line saying why not.
//
// A packet is a machine ID, a command, a 16-bit little-endian length and, for the commands that
// carry data, the data and their 16-bit little-endian sum. The computer sends a variable as
// RTS (VAR to the TI-92); the calculator answers ACK and CTS (or SKP, refusing it); the computer sends ACK, then
// XDP holding four zero bytes and the variable's data; the calculator answers ACK; EOT and ACK
// close it.

#include "core/link/link_types.h"
#include "core/var_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The largest packet either side sends: header, 65,535 data bytes and the sum.
inline constexpr std::size_t kDbusMaxPacket = 4 + 65535 + 2;

// What the machine waits for (a short lowercase phrase), or null when it waits for nothing.
struct DbusLink {
    LinkModel model;
    unsigned char operation;  // send, list or receive
    LinkState state;
    const char* awaited;
    std::uint64_t acknowledged;  // of the data bytes that the calculator has confirmed
    std::uint64_t total;         // of the data bytes to transfer, when known
    char failure[128];           // the line saying why, when state is failed

    // Internals.
    const unsigned char* script;
    std::size_t step;
    std::span<const Variable> variables;
    std::size_t current;
    std::span<LinkEntry> entries;
    std::size_t entry_count;
    std::size_t folder_cursor;
    char request[18];
    unsigned char request_type;
    std::uint64_t deadline;
    std::size_t in_size;
    std::size_t out_size;
    std::size_t out_taken;
    std::size_t received_size;
    unsigned char received_type;
    unsigned char in[kDbusMaxPacket];
    unsigned char out[2 * kDbusMaxPacket];
    unsigned char received[65536];
};

// Starts sending `variables` (folders among them are skipped), each named folder\name on the
// calculator, archived or locked as its attribute says; `variables` must outlive the transfer.
void DbusStartSend(DbusLink& link, LinkModel model, std::span<const Variable> variables, std::uint64_t now);

// Starts listing the calculator's folders and variables into `entries` (each folder before its
// variables; those past its room are dropped and the list ends failed).
void DbusStartList(DbusLink& link, LinkModel model, std::span<LinkEntry> entries, std::uint64_t now);

// Starts receiving variable `name` of `type` from `folder`.
void DbusStartReceive(DbusLink& link, LinkModel model, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now);

// The bytes to send now (empty when none); taking them starts the calculator's time to answer.
// When the transfer has ended, they may still hold the last acknowledgement: send it too.
std::span<const unsigned char> DbusTakeOutput(DbusLink& link, std::uint64_t now);

// Takes `bytes` that the calculator sent at time `now` (milliseconds, any origin), or none,
// and moves on; past the deadline with the awaited packet incomplete, the transfer fails.
void DbusFeed(DbusLink& link, std::span<const unsigned char> bytes, std::uint64_t now);

// Ends the transfer as failed because the cable or calculator is no longer there.
void DbusDeviceGone(DbusLink& link);

// The number of entries a finished list holds.
inline std::size_t DbusListCount(const DbusLink& link) { return link.entry_count; }

// The received variable (its folder and name as requested), valid while `link` lives.
Variable DbusReceived(const DbusLink& link);

// The 16-bit sum of `data` that closes a packet.
std::uint16_t DbusChecksum(std::span<const unsigned char> data);
