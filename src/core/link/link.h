#pragma once

// One transfer with a calculator of the family over either way of plugging it into USB: the
// TI-GRAPH LINK cable's classic protocol (any model) or the TI-89 Titanium's own USB protocol.
// A front end allocates one Link (it is large: it holds the largest packets both ways) and
// drives it: start an operation, then send what LinkTakeOutput gives and feed in what the
// calculator sends, with the time, until the state is no longer running.

#include "core/link/dbus_link.h"
#include "core/link/dusb_link.h"

struct Link {
    bool usb;
    DbusLink dbus;
    DusbLink dusb;
};

void LinkStartSend(Link& link, LinkModel model, bool usb, std::span<const Variable> variables, std::uint64_t now);
void LinkStartList(Link& link, LinkModel model, bool usb, std::span<LinkEntry> entries, std::uint64_t now);
void LinkStartReceive(Link& link, LinkModel model, bool usb, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now);

// The next bytes to send as one write (empty when none; call again until empty); when
// `zero_length_after` comes back set, a zero-length write must follow them.
std::span<const unsigned char> LinkTakeOutput(Link& link, std::uint64_t now, bool& zero_length_after);
void LinkFeed(Link& link, std::span<const unsigned char> bytes, std::uint64_t now);
void LinkDeviceGone(Link& link);

LinkState LinkStateOf(const Link& link);
// The line saying why, once the state is failed.
const char* LinkFailure(const Link& link);
// What the transfer waits for, or null.
const char* LinkAwaited(const Link& link);
std::uint64_t LinkAcknowledged(const Link& link);
std::uint64_t LinkTotal(const Link& link);
std::size_t LinkListCount(const Link& link);
Variable LinkReceived(const Link& link);
