#include "core/link/dbus_link.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Commands.
constexpr unsigned char kVar = 0x06, kCts = 0x09, kXdp = 0x15, kSkp = 0x36, kAck = 0x56, kErr = 0x5A,
                        kRdy = 0x68, kCnt = 0x78, kEot = 0x92, kReq = 0xA2, kRts = 0xC9;

// The types a listing asks for, and the types that stand for a variable's attribute in RTS.
constexpr unsigned char kLocalFolder = 0x1B, kRequestList89 = 0x1A, kRequestList92 = 0x19,
                        kLockedType = 0x26, kArchivedType = 0x27;

// The pause libticalcs2 needs after a variable received, before the next transfer.
constexpr std::uint32_t kAfterReceiveMs = 250;

// The codes of SKP, its third data byte, as cmd68k.cc's err_code reads them and error.cc and
// dbus_pkt.h's rejection codes name them (for 3, dbus_pkt.h's "memory"; error.cc says an
// application could not be deleted, which a variable sent does not ask).
constexpr LinkRefusal kRefusals[] = {
    {0x01, LinkError::refused, "it ended the transfer"},
    {0x02, LinkError::refused, "it skipped the variable"},
    {0x03, LinkError::memory, "its memory is full"},
    {0x04, LinkError::refused, "its version does not take the variable"},
    {0x07, LinkError::refused, "it refused a FLASH application for another model"},
    {0x08, LinkError::refused, "it refused a FLASH application whose signature does not match"},
    {0x1E, LinkError::locked_or_archived, "one of that name is locked or archived"},
    {0x21, LinkError::locked_or_archived, "one of that name is locked or archived"},
    {0x24, LinkError::refused, "its version does not take the request"},
    {0x25, LinkError::name, "it does not take that name"},
};

// What the computer waits for; each packet that comes names the next.
enum Wait : unsigned char {
    kReadyAck,                              // the acknowledgement of the ready check
    kRtsAck, kCtsWait, kDataAck, kEotAck,   // sending a variable
    kReqAck, kVarHeader, kCtsAck, kData, kEnd, kNextOrEnd,  // asking for a list or a variable
    kPaused                                 // the pause after a receive
};
const char* const kAwaited[] = {
    "the acknowledgement of the ready check", "an acknowledgement", "leave to send", "an acknowledgement of the data",
    "an acknowledgement", "an acknowledgement of the request", "the variable's header", "an acknowledgement",
    "the data", "the end of the transfer", "the next entry or the end", "nothing"};

LinkMachine& Machine(DbusLink& link) { return link.machine; }
// The calculator speaks the protocol's first form (the TI-92).
bool FirstForm(const DbusLink& link) { return link.machine.model->list_entry_size == 0; }
unsigned char ToCalculator(const DbusLink& link) { return link.machine.model->computer_id; }
bool CarriesData(unsigned char cmd)
{
    return cmd == kVar || cmd == kXdp || cmd == kSkp || cmd == kReq || cmd == kRts;
}
bool KnownCommand(unsigned char cmd)
{
    return CarriesData(cmd) || cmd == kCts || cmd == kAck || cmd == kErr || cmd == kCnt || cmd == kEot;
}

// Room for `n` more bytes of output (the output all taken is forgotten); fails when none.
unsigned char* Room(DbusLink& link, std::size_t n)
{
    if (link.out_taken == link.out_size)
        link.out_taken = link.out_size = link.packet_at = 0;
    if (link.out_size + n <= sizeof link.out)
        return link.out + link.out_size;
    LinkFailAhead(Machine(link));
    return nullptr;
}

// Puts a packet of command `cmd` after the pending output: `data`, with its sum, when the
// command carries data, else the length 0 alone.
void Put(DbusLink& link, unsigned char cmd, std::span<const unsigned char> data = {})
{
    unsigned char* at = Room(link, 6 + data.size());
    if (!at)
        return;
    at[0] = ToCalculator(link);
    at[1] = cmd;
    PutLE16(at + 2, data.size());
    link.out_size += 4;
    if (!CarriesData(cmd))
        return;
    std::memcpy(at + 4, data.data(), data.size());
    PutLE16(at + 4 + data.size(), DbusChecksum(data));
    link.out_size += data.size() + 2;
}

// The header of RTS, VAR or REQ: the 32-bit size, the type, the name's length and the name.
void PutHeader(DbusLink& link, unsigned char cmd, std::uint32_t size, unsigned char type, const char* name,
               bool trailing_zero)
{
    unsigned char h[6 + 17 + 1];
    const std::size_t n = std::strlen(name);
    PutLE32(h, size);
    h[4] = type;
    h[5] = static_cast<unsigned char>(n);
    std::memcpy(h + 6, name, n);
    h[6 + n] = 0;
    Put(link, cmd, {h, 6 + n + trailing_zero});
}

// XDP with four zero bytes, then the current variable as stored: built in place.
void PutData(DbusLink& link)
{
    const Variable& v = LinkCurrent(Machine(link));
    const std::size_t n = 4 + 2 + v.data.size();
    unsigned char* at = Room(link, n + 6);
    if (!at)
        return;
    at[0] = ToCalculator(link);
    at[1] = kXdp;
    PutLE16(at + 2, n);
    std::memset(at + 4, 0, 4);
    PutBE16(at + 8, v.data.size());
    std::memcpy(at + 10, v.data.data(), v.data.size());
    PutLE16(at + 4 + n, DbusChecksum({at + 4, n}));
    link.out_size += n + 6;
}

// The variables' bytes in out[from, to): those of the XDP packets after their four zero bytes,
// but the sum.
std::uint64_t DataBytes(DbusLink& link, std::size_t from, std::size_t to)
{
    std::uint64_t n = 0;
    while (link.packet_at < to) {
        const unsigned char* p = link.out + link.packet_at;
        const std::size_t size = 4 + (CarriesData(p[1]) ? GetLE16(p + 2) + 2 : 0);
        const std::size_t data = std::max(link.packet_at + 8, from), end = std::min(link.packet_at + size - 2, to);
        n += p[1] == kXdp && end > data ? end - data : 0;
        if (link.packet_at + size > to)
            break;
        link.packet_at += size;
    }
    return n;
}

void Await(DbusLink& link, Wait wait) { link.wait = wait; }

// The ready check, with the machine ID of the model told.
void AskReady(DbusLink& link)
{
    Put(link, kRdy);
    Await(link, kReadyAck);
}

// Asks leave to send the current variable: the TI-92 has no archive, its variables go as they are.
void SendHeader(DbusLink& link)
{
    const Variable& v = LinkCurrent(Machine(link));
    char name[18];
    LinkWhat(Machine(link), name);
    const unsigned char type = FirstForm(link) ? v.type
                             : v.attribute == kLockedAttribute ? kLockedType
                             : v.attribute == kProtectedAttribute || v.attribute == kArchived ? kArchivedType
                                                                                               : v.type;
    PutHeader(link, FirstForm(link) ? kVar : kRts, v.data.size() + 2, type, name, !FirstForm(link));
    Await(link, kRtsAck);
}

// Asks for the variable, the list of folders (every entry on the TI-92) or one folder's list.
void SendRequest(DbusLink& link)
{
    if (link.listing_folder)  // the folder's name, where the size's top byte says so
        PutHeader(link, kReq, std::uint32_t{kLocalFolder} << 24, kRequestList89, link.request, false);
    else if (Machine(link).operation == LinkOperation::list)
        PutHeader(link, kReq, FirstForm(link) ? 0 : std::uint32_t{kFolderType} << 24, FirstForm(link) ? kRequestList92 : kRequestList89, "", false);
    else
        PutHeader(link, kReq, 0, Machine(link).request_type, link.request, false);
    Await(link, kReqAck);
}

void Done(DbusLink& link) { Machine(link).state = LinkState::done; }

// After the list of folders, each folder's own list in turn; then the end.
void NextFolder(DbusLink& link)
{
    for (; link.folder_cursor < Machine(link).entry_count; ++link.folder_cursor) {
        const LinkEntry& e = Machine(link).entries[link.folder_cursor];
        if (e.type != kFolderType || e.folder[0])
            continue;
        std::snprintf(link.request, sizeof link.request, "%s", e.name);
        link.listing_folder = true;
        ++link.folder_cursor;
        return SendRequest(link);
    }
    Done(link);
}

// The model whose calculators answer with machine ID `id`, kept as told where the ID does not
// tell it apart; false, failing, for another family.
bool Found(DbusLink& link, unsigned char id)
{
    LinkMachine& m = Machine(link);
    const Model* found = m.model->link_id == id ? m.model : nullptr;
    for (const Model& model : kModels)
        if (!found && model.link_id == id)
            found = &model;
    if (!found) {
        LinkFail(m, LinkError::model, "a calculator of another family answered (its machine ID 0x%02X)", id);
        return false;
    }
    m.model = found;
    m.found = true;
    m.answer_within = kLinkTimeoutMs;
    return true;
}

// Fails because the list does not fit the model's entries, naming a model of the same machine ID
// whose entries differ in size, if any.
void FailEntries(LinkMachine& m)
{
    const Model* other = nullptr;
    for (const Model& o : kModels)
        if (!other && o.link_id == m.model->link_id && o.list_entry_size != m.model->list_entry_size)
            other = &o;
    if (!other)
        return LinkFail(m, LinkError::model, "the calculator's list does not fit a %s's entries", m.model->name);
    LinkFail(m, LinkError::model, "the calculator's list does not fit a %s's entries: is it a %s?", m.model->name,
             other->name);
}

// Adds the entries of a listing's XDP data (n bytes).
void TakeList(DbusLink& link, const unsigned char* data, std::size_t n)
{
    LinkMachine& m = Machine(link);
    LinkEntry e = {};
    if (FirstForm(link)) {  // one entry, each folder before its variables
        if (n < 18)
            return LinkFail(m, LinkError::unexpected, "the calculator sent a list entry too short to hold one");
        std::memcpy(e.name, data + 4, 8);
        e.type = data[12];
        e.attribute = data[13];
        e.size = GetLE32(data + 14);
        std::size_t last_folder = m.entry_count;
        while (last_folder > 0 && m.entries[last_folder - 1].type != kFolderType)
            --last_folder;
        if (e.type != kFolderType && last_folder > 0)
            std::memcpy(e.folder, m.entries[last_folder - 1].name, sizeof e.folder);
        return LinkAddEntry(m, e);
    }
    // Entries of the model's size, which the machine ID does not tell between models that share
    // it; a folder's own list opens with an entry for the folder.
    const std::size_t size = m.model->list_entry_size;
    if (n < 4 || (n - 4) % size)
        return FailEntries(m);
    for (std::size_t j = link.listing_folder ? 4 + size : 4; j < n && m.state == LinkState::running; j += size) {
        if (!link.listing_folder && data[j + 8] != kFolderType)
            continue;
        std::memcpy(e.name, data + j, 8);
        std::snprintf(e.folder, sizeof e.folder, "%.8s", link.listing_folder ? link.request : "");
        e.type = data[j + 8];
        e.attribute = data[j + 9];
        e.size = data[j + 10] | data[j + 11] << 8 | data[j + 12] << 16;
        LinkAddEntry(m, e);
    }
}

// Takes an XDP's data: a listing's entries or the variable received.
void TakeData(DbusLink& link, const unsigned char* data, std::size_t n)
{
    LinkMachine& m = Machine(link);
    if (m.operation == LinkOperation::list)
        return TakeList(link, data, n);
    if (n != 4 + m.total || GetBE16(data + 4) != n - 6)
        return LinkFail(m, LinkError::unexpected, "the calculator sent %s with a size that disagrees with its header", link.request);
    link.received_size = n - 4;
    std::memcpy(link.received, data + 4, n - 4);
    m.acknowledged = n - 4;
}

// Reacts to the calculator's packet of command `cmd` with `data` (n bytes; for a packet
// without data, n is its length field).
void TakePacket(DbusLink& link, unsigned char cmd, const unsigned char* data, std::size_t n, std::uint64_t now)
{
    LinkMachine& m = Machine(link);
    char what[18];
    std::snprintf(what, sizeof what, "%s", link.request);
    if (m.operation == LinkOperation::send && link.wait != kReadyAck)
        LinkWhat(m, what);
    const bool fetching = m.operation == LinkOperation::receive && (link.wait == kReqAck || link.wait == kVarHeader);
    if (cmd == kErr)
        return LinkFail(m, LinkError::damaged, "the calculator reports that a packet arrived damaged");
    // A variable asked for that the calculator lacks: SKP, EOT, or ACK with a status word.
    if (fetching && (cmd == kSkp || cmd == kEot || (cmd == kAck && n != 0)))
        return LinkFail(m, LinkError::missing, "the calculator has no variable %s", what);
    if (cmd == kSkp && (FirstForm(link) || n < 3))  // the TI-92 says no more
        return LinkFail(m, LinkError::refused, "the calculator refused %s", m.operation == LinkOperation::list ? "to list its variables" : what);
    if (cmd == kSkp)
        return LinkRefuse(m, kRefusals, data[2], 2);
    const bool ack = cmd == kAck && n == 0;
    switch (link.wait) {
    case kReadyAck:
        if (cmd != kAck)
            break;
        if (n >> 8 & 1)  // the status word's "not ready" bit
            return LinkFail(m, LinkError::busy, "the calculator is busy (is it at its home screen?)");
        return m.operation == LinkOperation::send ? SendHeader(link) : SendRequest(link);
    case kRtsAck:
        if (ack)
            return Await(link, kCtsWait);
        break;
    case kCtsWait:
        if (cmd != kCts)
            break;
        Put(link, kAck);
        PutData(link);
        return Await(link, kDataAck);
    case kDataAck:  // its length field may hold a status word
        if (cmd != kAck)
            break;
        m.acknowledged += LinkCurrent(m).data.size() + 2;
        Put(link, kEot);
        return Await(link, kEotAck);
    case kEotAck:
        if (!ack)
            break;
        return LinkNextVariable(m, m.current + 1) ? SendHeader(link) : Done(link);
    case kReqAck:
        if (ack)
            return Await(link, kVarHeader);
        break;
    case kVarHeader:
        if (cmd != kVar || n < 6 || 6u + data[5] > n)
            break;
        if (m.operation == LinkOperation::receive) {
            m.total = GetLE32(data);
            link.received_type = data[4];
            if (m.total < 2 || m.total > 65535 - 4)
                return LinkFail(m, LinkError::unexpected, "the calculator announced %s with a size no variable has", what);
        }
        Put(link, kAck);
        Put(link, kCts);
        return Await(link, kCtsAck);
    case kCtsAck:
        if (ack)
            return Await(link, kData);
        break;
    case kData:
        if (cmd != kXdp)
            break;
        TakeData(link, data, n);
        Put(link, kAck);
        return Await(link, m.operation == LinkOperation::list && FirstForm(link) ? kNextOrEnd : kEnd);
    case kNextOrEnd:
        if (cmd == kCnt) {
            Put(link, kAck);
            Put(link, kCts);
            return Await(link, kCtsAck);
        }
        [[fallthrough]];
    case kEnd:
        if (cmd != kEot)
            break;
        Put(link, kAck);
        if (m.operation != LinkOperation::receive)
            return FirstForm(link) ? Done(link) : NextFolder(link);
        LinkPause(m, kAfterReceiveMs, true, now);
        return Await(link, kPaused);
    }
    LinkFail(m, LinkError::unexpected,
             "the calculator sent an unexpected packet (command 0x%02X) while this computer waited for %s", cmd,
             kAwaited[link.wait]);
}

void Start(DbusLink& link, const Model& model, LinkOperation operation, std::uint64_t now)
{
    LinkBegin(link.machine, model, operation, now);
    link.machine.answer_within = kDbusReadyWaitMs;
    link.asked_again = link.listing_folder = false;
    link.folder_cursor = 0;
    link.request[0] = '\0';
    link.in_size = link.out_size = link.out_taken = link.packet_at = link.received_size = 0;
    link.received_type = 0;
    AskReady(link);
}

} // namespace

std::uint16_t DbusChecksum(std::span<const unsigned char> data)
{
    unsigned sum = 0;
    for (unsigned char b : data)
        sum += b;
    return sum & 0xFFFF;
}

void DbusStartSend(DbusLink& link, const Model& model, std::span<const Variable> variables, std::uint64_t now)
{
    Start(link, model, LinkOperation::send, now);
    LinkMachine& m = link.machine;
    m.variables = variables;
    for (const Variable& v : variables)
        m.total += v.type == kFolderType ? 0 : v.data.size() + 2;
    if (!LinkNextVariable(m, 0)) {
        link.out_size = 0;
        Done(link);
    }
}

void DbusStartList(DbusLink& link, const Model& model, std::span<LinkEntry> entries, std::uint64_t now)
{
    Start(link, model, LinkOperation::list, now);
    link.machine.entries = entries;
}

void DbusStartReceive(DbusLink& link, const Model& model, const char* folder, const char* name, unsigned char type,
                      std::uint64_t now)
{
    Start(link, model, LinkOperation::receive, now);
    LinkMachine& m = link.machine;
    std::snprintf(m.folder, sizeof m.folder, "%s", folder);
    std::snprintf(m.name, sizeof m.name, "%s", name);
    LinkWhat(m, link.request);
    m.request_type = type;
}

std::span<const unsigned char> DbusTakeOutput(DbusLink& link)
{
    const std::size_t at = link.out_taken, n = std::min(kDbusPiece, link.out_size - at);
    link.out_taken += n;
    if (n)
        LinkTaken(link.machine, DataBytes(link, at, at + n));
    return {link.out + at, n};
}

void DbusWritten(DbusLink& link, std::uint64_t now)
{
    LinkWrittenAt(link.machine, now, link.out_taken < link.out_size);
}

void DbusFeed(DbusLink& link, std::span<const unsigned char> bytes, std::uint64_t now)
{
    LinkMachine& m = link.machine;
    if (LinkPauseOver(m, now))
        Done(link);
    std::size_t i = 0;
    while (m.state == LinkState::running && !LinkSpokeInPause(m, i < bytes.size())) {
        if (link.in_size >= 2 && !KnownCommand(link.in[1]))
            return LinkFail(m, LinkError::unexpected, "the calculator sent an unknown packet (command 0x%02X)", link.in[1]);
        std::size_t need = 4;
        if (link.in_size >= 4 && CarriesData(link.in[1]))
            need += GetLE16(link.in + 2) + 2;
        if (link.in_size < need) {
            if (!LinkGather(m, link.in, link.in_size, need, bytes, i, now))
                break;
            continue;
        }
        link.in_size = 0;
        // Every packet comes from the calculator the ready check found.
        if (link.wait == kReadyAck ? !Found(link, link.in[0]) : link.in[0] != m.model->link_id) {
            if (m.state == LinkState::running)
                LinkFail(m, LinkError::unexpected, "a packet came from machine ID 0x%02X, not from the calculator (0x%02X)",
                         link.in[0], m.model->link_id);
            return;
        }
        const std::size_t n = need - 6;
        if (need > 4 && GetLE16(link.in + 4 + n) != DbusChecksum({link.in + 4, n}))
            return LinkFail(m, LinkError::damaged, "the calculator sent a packet whose checksum does not match");
        TakePacket(link, link.in[1], link.in + 4, need > 4 ? n : GetLE16(link.in + 2), now);
    }
    if (!LinkSilent(m, now))
        return;
    if (link.wait != kReadyAck || link.asked_again)
        return LinkFailSilent(m);
    // Silent at the first ready check: a TI-92 answers only its own machine ID, the others
    // perhaps only theirs: the first model addressed otherwise.
    link.asked_again = true;
    const Model* other = nullptr;
    for (const Model& o : kModels)
        if (!other && o.computer_id != m.model->computer_id)
            other = &o;
    m.model = other;
    m.answer_within = kLinkTimeoutMs;
    AskReady(link);
}

Variable DbusReceived(const DbusLink& link)
{
    Variable v = {};
    std::memcpy(v.folder, link.machine.folder, sizeof v.folder);
    std::memcpy(v.name, link.machine.name, sizeof v.name);
    v.type = link.received_type;
    if (link.received_size >= 2)
        v.data = {link.received + 2, link.received_size - 2};
    return v;
}
