#include "core/link/link.h"

namespace {

// Picks the protocol for `product`; false for one neither.
bool Pick(Link& link, std::uint16_t product)
{
    link.titanium = product == kTitaniumProduct;
    return product == kCableProduct || product == kTitaniumProduct;
}

} // namespace

bool LinkStartSend(Link& link, std::uint16_t product, LinkModel model, std::span<const Variable> variables,
                   std::uint64_t now)
{
    if (!Pick(link, product))
        return false;
    link.titanium ? DusbStartSend(link.dusb, variables, now) : DbusStartSend(link.dbus, model, variables, now);
    return true;
}

bool LinkStartList(Link& link, std::uint16_t product, LinkModel model, std::span<LinkEntry> entries, std::uint64_t now)
{
    if (!Pick(link, product))
        return false;
    link.titanium ? DusbStartList(link.dusb, entries, now) : DbusStartList(link.dbus, model, entries, now);
    return true;
}

bool LinkStartReceive(Link& link, std::uint16_t product, LinkModel model, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now)
{
    if (!Pick(link, product))
        return false;
    link.titanium ? DusbStartReceive(link.dusb, folder, name, type, now)
                  : DbusStartReceive(link.dbus, model, folder, name, type, now);
    return true;
}

std::span<const unsigned char> LinkTakeOutput(Link& link, bool& zero_length_after)
{
    zero_length_after = false;
    if (!link.titanium)
        return DbusTakeOutput(link.dbus);
    const std::span<const unsigned char> out = DusbTakeOutput(link.dusb);
    zero_length_after = link.dusb.zero_length_after;
    return out;
}

void LinkWritten(Link& link, std::uint64_t now)
{
    link.titanium ? DusbWritten(link.dusb, now) : DbusWritten(link.dbus, now);
}

void LinkFeed(Link& link, std::span<const unsigned char> bytes, std::uint64_t now)
{
    link.titanium ? DusbFeed(link.dusb, bytes, now) : DbusFeed(link.dbus, bytes, now);
}

void LinkFault(Link& link, LinkFaultKind fault)
{
    LinkFaultSeen(link.titanium ? link.dusb.machine : link.dbus.machine, fault);
}

const LinkMachine& LinkMachineOf(const Link& link) { return link.titanium ? link.dusb.machine : link.dbus.machine; }

Variable LinkReceived(const Link& link) { return link.titanium ? DusbReceived(link.dusb) : DbusReceived(link.dbus); }

const char* LinkFound(const Link& link)
{
    const LinkMachine& m = LinkMachineOf(link);
    if (link.titanium || !m.found)
        return "";
    return m.model == LinkModel::ti92 ? "TI-92"
         : m.model == LinkModel::ti92p || m.model == LinkModel::v200 ? "TI-92 Plus or Voyage 200"
                                                                      : "TI-89 or TI-89 Titanium";
}

const char* LinkFoundOption(const Link& link)
{
    const LinkModel model = LinkMachineOf(link).model;
    return !*LinkFound(link) ? "" : model == LinkModel::ti92 ? "92" : model == LinkModel::ti92p ? "92p"
                                  : model == LinkModel::v200 ? "v200" : "89";
}
