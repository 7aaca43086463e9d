#include "core/link/link.h"

#include <cstdio>

namespace {

// Picks the protocol and the model for `product`: a calculator's own port speaks its own
// protocol to that calculator whatever was told, the cable the classic one to the model told.
// Null for another product.
const Model* Pick(Link& link, std::uint16_t product, const Model& told)
{
    const Model* port = ModelOnPort(product);
    link.own_port = port != nullptr;
    return port ? port : product == kCableUsbProduct ? &told : nullptr;
}

} // namespace

bool LinkStartSend(Link& link, std::uint16_t product, const Model& model, std::span<const Variable> variables,
                   std::uint64_t now)
{
    const Model* m = Pick(link, product, model);
    if (m)
        link.own_port ? DusbStartSend(link.dusb, *m, variables, now) : DbusStartSend(link.dbus, *m, variables, now);
    return m != nullptr;
}

bool LinkStartList(Link& link, std::uint16_t product, const Model& model, std::span<LinkEntry> entries,
                   std::uint64_t now)
{
    const Model* m = Pick(link, product, model);
    if (m)
        link.own_port ? DusbStartList(link.dusb, *m, entries, now) : DbusStartList(link.dbus, *m, entries, now);
    return m != nullptr;
}

bool LinkStartReceive(Link& link, std::uint16_t product, const Model& model, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now)
{
    const Model* m = Pick(link, product, model);
    if (m)
        link.own_port ? DusbStartReceive(link.dusb, *m, folder, name, type, now)
                      : DbusStartReceive(link.dbus, *m, folder, name, type, now);
    return m != nullptr;
}

std::span<const unsigned char> LinkTakeOutput(Link& link, bool& zero_length_after)
{
    zero_length_after = false;
    if (!link.own_port)
        return DbusTakeOutput(link.dbus);
    const std::span<const unsigned char> out = DusbTakeOutput(link.dusb);
    zero_length_after = link.dusb.zero_length_after;
    return out;
}

void LinkWritten(Link& link, std::uint64_t now)
{
    link.own_port ? DusbWritten(link.dusb, now) : DbusWritten(link.dbus, now);
}

void LinkFeed(Link& link, std::span<const unsigned char> bytes, std::uint64_t now)
{
    link.own_port ? DusbFeed(link.dusb, bytes, now) : DbusFeed(link.dbus, bytes, now);
}

void LinkFault(Link& link, LinkFaultKind fault)
{
    LinkFaultSeen(link.own_port ? link.dusb.machine : link.dbus.machine, fault);
}

const LinkMachine& LinkMachineOf(const Link& link) { return link.own_port ? link.dusb.machine : link.dbus.machine; }

Variable LinkReceived(const Link& link) { return link.own_port ? DusbReceived(link.dusb) : DbusReceived(link.dbus); }

const char* LinkFound(const Link& link, char (&out)[kLinkFoundSize])
{
    const LinkMachine& m = LinkMachineOf(link);
    std::size_t at = 0;
    out[0] = '\0';
    for (const Model& o : kModels)
        if (!link.own_port && m.found && o.link_id == m.model->link_id && at < sizeof out)
            at += std::snprintf(out + at, sizeof out - at, "%s%s", at ? " or " : "", o.name);
    return out;
}

const char* LinkFoundOption(const Link& link)
{
    const LinkMachine& m = LinkMachineOf(link);
    return link.own_port || !m.found ? "" : FilesModel(*m.model).option;
}
