#include "core/link/link.h"

void LinkStartSend(Link& l, LinkModel model, bool usb, std::span<const Variable> variables, std::uint64_t now)
{
    l.usb = usb;
    usb ? DusbStartSend(l.dusb, variables, now) : DbusStartSend(l.dbus, model, variables, now);
}

void LinkStartList(Link& l, LinkModel model, bool usb, std::span<LinkEntry> entries, std::uint64_t now)
{
    l.usb = usb;
    usb ? DusbStartList(l.dusb, entries, now) : DbusStartList(l.dbus, model, entries, now);
}

void LinkStartReceive(Link& l, LinkModel model, bool usb, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now)
{
    l.usb = usb;
    usb ? DusbStartReceive(l.dusb, folder, name, type, now) : DbusStartReceive(l.dbus, model, folder, name, type, now);
}

std::span<const unsigned char> LinkTakeOutput(Link& l, std::uint64_t now, bool& zero_length_after)
{
    const std::span<const unsigned char> out = l.usb ? DusbTakeOutput(l.dusb, now) : DbusTakeOutput(l.dbus, now);
    zero_length_after = l.usb && l.dusb.zero_length_after;
    return out;
}

void LinkFeed(Link& l, std::span<const unsigned char> bytes, std::uint64_t now)
{
    l.usb ? DusbFeed(l.dusb, bytes, now) : DbusFeed(l.dbus, bytes, now);
}

void LinkDeviceGone(Link& l)
{
    l.usb ? DusbDeviceGone(l.dusb) : DbusDeviceGone(l.dbus);
}

LinkState LinkStateOf(const Link& l) { return l.usb ? l.dusb.state : l.dbus.state; }
const char* LinkFailure(const Link& l) { return l.usb ? l.dusb.failure : l.dbus.failure; }
const char* LinkAwaited(const Link& l) { return l.usb ? l.dusb.awaited : l.dbus.awaited; }
std::uint64_t LinkAcknowledged(const Link& l) { return l.usb ? l.dusb.acknowledged : l.dbus.acknowledged; }
std::uint64_t LinkTotal(const Link& l) { return l.usb ? l.dusb.total : l.dbus.total; }
std::size_t LinkListCount(const Link& l) { return l.usb ? DusbListCount(l.dusb) : DbusListCount(l.dbus); }
Variable LinkReceived(const Link& l) { return l.usb ? DusbReceived(l.dusb) : DbusReceived(l.dbus); }
