#pragma once

// One transfer with a calculator of the family over either way of plugging it into USB, the
// protocol chosen by the USB product: the TI-GRAPH LINK USB cable (SilverLink) carries the
// classic protocol to any model; a calculator's own port (the TI-89 Titanium's, core/model.h),
// its own protocol, to that model alone. A front end
// allocates one Link (it is large: it holds the largest packets both ways) and drives it: start
// an operation, then write what LinkTakeOutput gives, say when each write completed, and feed
// in what the calculator sends, with the time, until the state is no longer running.

#include "core/link/dbus_link.h"
#include "core/link/dusb_link.h"

struct Link {
    bool own_port;  // over a calculator's own port and its own protocol, else over the cable
    DbusLink dbus;
    DusbLink dusb;
};

// True when a calculator is reached through USB product `product` (of kTiUsbVendor): the cable,
// or a calculator's own port.
inline bool LinkTakes(std::uint16_t product) { return product == kCableUsbProduct || ModelOnPort(product); }

// Start an operation with the calculator behind USB `product`, said to be `model` (over the
// cable, the calculator then says which it is; over a calculator's own port it is that one).
// False, starting nothing, for another product.
bool LinkStartSend(Link& link, std::uint16_t product, const Model& model, std::span<const Variable> variables,
                   std::uint64_t now);
bool LinkStartList(Link& link, std::uint16_t product, const Model& model, std::span<LinkEntry> entries, std::uint64_t now);
bool LinkStartReceive(Link& link, std::uint16_t product, const Model& model, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now);

// The next bytes to send as one write (empty when none; call again until empty); when
// `zero_length_after` comes back set, a zero-length write must follow them.
std::span<const unsigned char> LinkTakeOutput(Link& link, bool& zero_length_after);
// The write last taken (with its zero-length write) completed at `now`: the calculator's time to
// answer starts.
void LinkWritten(Link& link, std::uint64_t now);
void LinkFeed(Link& link, std::span<const unsigned char> bytes, std::uint64_t now);
// Ends a running transfer for what the front end saw on the device.
void LinkFault(Link& link, LinkFaultKind fault);

const LinkMachine& LinkMachineOf(const Link& link);
inline LinkState LinkStateOf(const Link& link) { return LinkMachineOf(link).state; }
// The line saying why, and its code, once the state is failed.
inline const char* LinkFailure(const Link& link) { return LinkMachineOf(link).failure; }
inline LinkError LinkErrorOf(const Link& link) { return LinkMachineOf(link).error; }
// In how many ms the link next wants to be called with no input (at most 100).
inline std::uint64_t LinkNext(const Link& link, std::uint64_t now) { return LinkNextCall(LinkMachineOf(link), now); }
inline std::size_t LinkListCount(const Link& link) { return LinkMachineOf(link).entry_count; }
Variable LinkReceived(const Link& link);

// Room for LinkFound's names.
inline constexpr std::size_t kLinkFoundSize = 64;

// The models that the machine ID of the calculator behind the cable says it may be, as "TI-89
// or TI-89 Titanium", in `out` ("" when it did not say, or over a calculator's own port); the
// -m option for it (that of the model told where the ID does not tell them apart).
const char* LinkFound(const Link& link, char (&out)[kLinkFoundSize]);
const char* LinkFoundOption(const Link& link);
