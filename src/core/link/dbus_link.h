#pragma once

// The family's classic link protocol, as the TI-GRAPH LINK USB cable (SilverLink) carries it,
// as a state machine over byte buffers: the front end takes what to send, says when each write
// completed, and feeds in what the calculator sent, with the time.
//
// A packet is a machine ID, a command, a 16-bit little-endian length and, for the commands that
// carry data, the data and their 16-bit little-endian sum. Every transfer opens with the ready
// check (RDY), whose acknowledgement's machine ID says which calculator answers (each model's
// machine IDs are in core/model.h; the TI-92 answers only a packet addressed to its own). The
// computer sends a variable as RTS (VAR to the TI-92); the calculator answers ACK and CTS (or
// SKP, refusing it); the computer sends ACK, then XDP holding four zero bytes and the variable
// as stored; the calculator answers ACK, whose length field may carry a status word; EOT and
// ACK close it.

#include "core/link/link_machine.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The largest packet either side sends: header, 65,535 data bytes and the sum.
inline constexpr std::size_t kDbusMaxPacket = 4 + 65535 + 2;
// The most bytes one write takes, so that the progress moves within a large variable.
inline constexpr std::size_t kDbusPiece = 1024;
// How long the first ready check waits before asking again with the other machine ID: the
// cable's own default time-out (libticables2), after which TiLP's probe asks the TI-92.
inline constexpr std::uint32_t kDbusReadyWaitMs = 1500;

struct DbusLink {
    LinkMachine machine;
    unsigned char wait;         // the packet awaited (a step of dbus_link.cpp)
    bool asked_again;           // the ready check went with the other machine ID
    bool listing_folder;        // the list asked for is one folder's, named in `request`
    std::size_t folder_cursor;  // the next folder entry to list
    char request[18];           // folder\name asked for, or the folder listed
    std::size_t in_size;
    std::size_t out_size, out_taken;
    std::size_t packet_at;      // the packet of `out` the next write begins in, for the progress
    std::size_t received_size;
    unsigned char received_type;
    unsigned char in[kDbusMaxPacket];
    unsigned char out[2 * kDbusMaxPacket];
    unsigned char received[65536];
};

// Starts sending `variables` (folders among them are skipped), each named folder\name on the
// calculator, archived or locked as its attribute says; `variables` must outlive the transfer.
void DbusStartSend(DbusLink& link, const Model& model, std::span<const Variable> variables, std::uint64_t now);

// Starts listing the calculator's folders and variables into `entries` (each folder before its
// variables; those past its room are dropped and the list ends failed).
void DbusStartList(DbusLink& link, const Model& model, std::span<LinkEntry> entries, std::uint64_t now);

// Starts receiving variable `name` of `type` (as listed) from `folder`.
void DbusStartReceive(DbusLink& link, const Model& model, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now);

// The bytes to write now, at most kDbusPiece (empty when none). When the transfer has ended,
// they may still hold the last acknowledgement: send it too.
std::span<const unsigned char> DbusTakeOutput(DbusLink& link);

// The write last taken completed at `now`.
void DbusWritten(DbusLink& link, std::uint64_t now);

// Takes `bytes` that the calculator sent at time `now` (milliseconds, any origin), or none,
// and moves on; past the calculator's time with the awaited packet incomplete, the transfer
// fails.
void DbusFeed(DbusLink& link, std::span<const unsigned char> bytes, std::uint64_t now);

// The received variable (its folder and name as requested), valid while `link` lives.
Variable DbusReceived(const DbusLink& link);

// The 16-bit sum of `data` that closes a packet.
std::uint16_t DbusChecksum(std::span<const unsigned char> data);
