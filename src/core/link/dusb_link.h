#pragma once

// The TI-89 Titanium's own USB protocol, over its own USB port, as a state machine over byte buffers,
// driven as the classic one is (see dbus_link.h); its raw and virtual packets are
// dusb_framing.h's. Every operation opens as libticalcs2's ready check does: a buffer size
// asked for and the calculator's mode set.

#include "core/link/dusb_framing.h"
#include "core/link/link_machine.h"

#include <cstddef>
#include <cstdint>
#include <span>

struct DusbLink {
    LinkMachine machine;
    DusbFraming framing;
    unsigned char step;        // what the conversation waits for (a step of dusb_link.cpp)
    bool variable_ready;       // the ready check of the current variable went
    bool zero_length_after;    // the packet just taken must be followed by a zero-length write
    std::size_t received_size;
};

// As DbusStartSend, DbusStartList and DbusStartReceive, with the calculator `model` whose own
// port it is.
void DusbStartSend(DusbLink& link, const Model& model, std::span<const Variable> variables, std::uint64_t now);
void DusbStartList(DusbLink& link, const Model& model, std::span<LinkEntry> entries, std::uint64_t now);
void DusbStartReceive(DusbLink& link, const Model& model, const char* folder, const char* name, unsigned char type,
                      std::uint64_t now);

// The next raw packet to send, as one bulk write (empty when none): call again until empty.
// When zero_length_after is set, a zero-length write must follow it.
std::span<const unsigned char> DusbTakeOutput(DusbLink& link);

// As DbusWritten and DbusFeed.
void DusbWritten(DusbLink& link, std::uint64_t now);
void DusbFeed(DusbLink& link, std::span<const unsigned char> bytes, std::uint64_t now);

// The received variable, valid while `link` lives.
Variable DusbReceived(const DusbLink& link);
