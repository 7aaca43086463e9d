#include "core/link/dusb_link.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <utility>

namespace {

// Virtual packet types.
constexpr std::uint16_t kPing = 0x0001, kDirRequest = 0x0009, kVarHeader = 0x000A, kRts = 0x000B,
                        kVarRequest = 0x000C, kVarContent = 0x000D, kModeSet = 0x0012, kDataAck = 0xAA00,
                        kDelayAck = 0xBB00, kEotPacket = 0xDD00, kError = 0xEE00;
// Attributes.
constexpr std::uint16_t kAttrSize = 0x01, kAttrType = 0x02, kAttrArchived = 0x03, kAttrAppVar = 0x05,
                        kAttrVersion = 0x08, kAttrType2 = 0x11, kAttrLocked = 0x41, kAttrUnknown42 = 0x42;
// The type attribute's value: this family's mark, then the variable's type.
constexpr std::uint32_t kTypeMark = 0xF00C0000;
// The mode set by the ping: normal (3), its version 1, and a time-out of 2,000 (libticalcs2's
// DUSB_MODE_NORMAL).
constexpr std::uint16_t kNormalMode[] = {3, 1, 0, 0, 2000};
// The smallest buffer asked for an odd-size variable's data (TI Connect's 0x3A).
constexpr std::uint32_t kSmallestBuffer = 0x3A;
// The pause libticalcs2 needs after a variable's EOT before the next variable.
constexpr std::uint32_t kBetweenVariablesMs = 50;

// The error codes of libticalcs2's dusb_cmd.cc, each as its error.cc says (0x0034 is the usual
// one: not at the home screen).
constexpr LinkRefusal kRefusals[] = {
    {0x0004, LinkError::name, "it does not take that name"},
    {0x0006, LinkError::archived, "one of that name is archived"},
    {0x0008, LinkError::damaged, "a packet arrived damaged"},
    {0x0009, LinkError::refused, "it is in its boot mode"},
    {0x000C, LinkError::memory, "its memory is full"},
    {0x000D, LinkError::name, "it does not take that name"},
    {0x000E, LinkError::name, "it does not take that name"},
    {0x0011, LinkError::busy, "it is busy"},
    {0x0012, LinkError::locked, "one of that name is locked"},
    {0x001B, LinkError::too_large, "the variable is too large"},
    {0x001C, LinkError::refused, "the mode asked for is too small"},
    {0x001D, LinkError::refused, "the mode asked for is too large"},
    {0x0021, LinkError::refused, "a parameter has the wrong size"},
    {0x0022, LinkError::refused, "a parameter's ID is not one it knows"},
    {0x0023, LinkError::refused, "a parameter is read-only"},
    {0x0027, LinkError::refused, "it does not take that change"},
    {0x0029, LinkError::refused, "it is under remote control"},
    {0x002B, LinkError::refused, "its batteries are low"},
    {0x002C, LinkError::refused, "it refused a FLASH application"},
    {0x002D, LinkError::refused, "it refused a FLASH application"},
    {0x002E, LinkError::refused, "it refused a FLASH application whose signature does not match"},
    {0x002F, LinkError::refused, "it refused a FLASH application"},
    {0x0030, LinkError::refused, "it refused a FLASH application"},
    {0x0034, LinkError::busy, "it is busy: not at its home screen"},
};

// What the conversation waits for; each answer names the next.
enum Step : unsigned char {
    kReadyBuffer,  // the buffer asked for by the ready check
    kReadyMode,    // the mode's acknowledgement
    kLeave,        // leave to send the variable
    kSmallBuffer,  // a smaller buffer, for an odd-size variable's data
    kContentAck,   // the data's acknowledgement
    kEot,          // the variable's EOT going out
    kPaused,       // the pause before the next variable
    kList,         // variable headers until the list's EOT
    kHeader,       // the variable's header
    kContent       // the variable
};
const char* const kAwaited[] = {"a buffer size", "the mode's acknowledgement", "leave to send the data", "a buffer size",
                                "the data's acknowledgement", "an acknowledgement", "nothing", "the list",
                                "the variable's header", "the variable"};

LinkMachine& Machine(DusbLink& link) { return link.machine; }
unsigned char* Data(DusbLink& link) { return link.framing.vout + 6; }  // where a virtual packet's data go

void Send(DusbLink& link, std::uint16_t type, std::size_t n, Step next, bool counts = false)
{
    DusbSendVirtual(link.framing, Machine(link), type, n, counts);
    link.step = next;
}

// The ready check: a buffer of 1,024 bytes asked for, then the mode.
void Ready(DusbLink& link)
{
    DusbAskBuffer(link.framing, Machine(link), kDusbAskedBuffer);
    link.step = kReadyBuffer;
}
void SetMode(DusbLink& link)
{
    for (std::size_t i = 0; i < std::size(kNormalMode); ++i)
        PutBE16(Data(link) + 2 * i, kNormalMode[i]);
    Send(link, kPing, 2 * std::size(kNormalMode), kReadyMode);
}

// Puts a name as the protocol gives it: its length, then its bytes and a NUL (the length 0
// alone for none).
std::size_t PutName(unsigned char* at, const char* name)
{
    const std::size_t n = std::strlen(name);
    at[0] = static_cast<unsigned char>(n);
    std::memcpy(at + 1, name, n + 1);
    return n ? n + 2 : 1;
}

// Puts an attribute: its ID, its size and `value`'s bytes, big-endian.
std::size_t PutAttribute(unsigned char* at, std::uint16_t id, std::uint32_t value, std::size_t size)
{
    PutBE16(at, id);
    PutBE16(at + 2, size);
    for (std::size_t i = 0; i < size; ++i)
        at[4 + i] = value >> 8 * (size - 1 - i) & 0xFF;
    return 4 + size;
}

// Puts the attribute IDs asked for.
std::size_t PutIds(unsigned char* at, std::initializer_list<std::uint16_t> ids)
{
    for (std::uint16_t id : ids) {
        PutBE16(at, id);
        at += 2;
    }
    return 2 * ids.size();
}

// Asks leave to send the current variable: its folder, name, size, and type, archived, version
// and locked attributes. Before a variable of even size, the ready check again (as
// libticalcs2's send_var).
void SendVariable(DusbLink& link)
{
    const Variable& v = LinkCurrent(Machine(link));
    if ((v.data.size() + 2) % 2 == 0 && !std::exchange(link.variable_ready, true))
        return Ready(link);
    link.variable_ready = false;
    unsigned char* d = Data(link);
    std::size_t n = PutName(d, v.folder);
    n += PutName(d + n, v.name);
    PutBE32(d + n, v.data.size() + 2);
    d[n + 4] = 0x01;  // the mode libticalcs2's dusb_cmd_s_rts gives
    PutBE16(d + n + 5, 4);
    n += 7;
    n += PutAttribute(d + n, kAttrType, kTypeMark | v.type, 4);
    n += PutAttribute(d + n, kAttrArchived, v.attribute == kArchived, 1);
    n += PutAttribute(d + n, kAttrVersion, 0, 4);
    n += PutAttribute(d + n, kAttrLocked, v.attribute == kLockedAttribute, 1);
    Send(link, kRts, n, kLeave);
}

// The current variable as stored: its big-endian size, then its data.
void SendContent(DusbLink& link)
{
    const Variable& v = LinkCurrent(Machine(link));
    PutBE16(Data(link), v.data.size());
    std::memcpy(Data(link) + 2, v.data.data(), v.data.size());
    Send(link, kVarContent, v.data.size() + 2, kContentAck, true);
}

// Once the calculator is ready: the operation's first request.
void AfterReady(DusbLink& link)
{
    unsigned char* d = Data(link);
    std::size_t n = 0;
    switch (Machine(link).operation) {
    case LinkOperation::send: return SendVariable(link);
    case LinkOperation::list:  // the six attributes of each entry, then three fields libticalcs2 sends as they are
        PutBE32(d, 6);
        n = 4 + PutIds(d + 4, {kAttrType, kAttrArchived, kAttrAppVar, kAttrSize, kAttrLocked, kAttrUnknown42});
        for (unsigned char b : {0, 1, 0, 1, 0, 1, 1})
            d[n++] = b;
        return Send(link, kDirRequest, n, kList);
    case LinkOperation::receive:  // the name, then three attributes asked for and the type given
        n = PutName(d, Machine(link).folder);
        n += PutName(d + n, Machine(link).name);
        d[n++] = 0x01;
        PutBE32(d + n, 0xFFFFFFFF);
        PutBE16(d + n + 4, 3);
        n += 6 + PutIds(d + n + 6, {kAttrArchived, kAttrVersion, kAttrLocked});
        PutBE16(d + n, 1);
        n += 2 + PutAttribute(d + n + 2, kAttrType2, kTypeMark | Machine(link).request_type, 4);
        PutBE16(d + n, 0);
        return Send(link, kVarRequest, n + 2, kHeader);
    }
}

// Takes a variable header: the folder, the name and each attribute (ID, 0 when present, size,
// value); on a list, the entry. False when it does not hold together.
bool TakeHeader(DusbLink& link, const unsigned char* d, std::size_t n)
{
    LinkEntry e = {};
    std::size_t at = 0;
    for (char* name : {e.folder, e.name}) {
        const std::size_t len = at < n ? d[at++] : 9;
        if (len > 8 || (len && at + len + 1 > n))
            return false;
        std::memcpy(name, d + at, len);
        at += len ? len + 1 : 0;
    }
    if (at + 2 > n)
        return false;
    std::size_t count = GetBE16(d + at);
    for (at += 2; count--;) {
        if (at + 3 > n)
            return false;
        const std::uint16_t id = GetBE16(d + at);
        const bool present = d[at + 2] == 0;
        at += 3;
        if (!present)
            continue;
        if (at + 2 > n || at + 2 + GetBE16(d + at) > n)
            return false;
        const std::size_t size = GetBE16(d + at);
        const unsigned char* v = d + at + 2;
        at += 2 + size;
        if (id == kAttrType && size == 4)
            e.type = v[3];
        else if (id == kAttrSize && size == 4)
            e.size = GetBE32(v);
        else if (id == kAttrArchived && size >= 1 && v[0])
            e.attribute = kArchived;
        else if (id == kAttrLocked && size >= 1 && v[0] && !e.attribute)
            e.attribute = kLockedAttribute;
    }
    if (Machine(link).operation != LinkOperation::list)
        return true;
    if (e.type == kFolderType) {  // a folder comes named as the folder of no variable
        std::memcpy(e.name, e.folder, sizeof e.name);
        e.folder[0] = '\0';
    }
    LinkAddEntry(Machine(link), e);
    return true;
}

// The EOT of a variable went: after a pause, the next variable; or the end.
void AfterVariable(DusbLink& link, std::uint64_t now)
{
    if (!LinkNextVariable(Machine(link), Machine(link).current + 1)) {
        Machine(link).state = LinkState::done;
        return;
    }
    LinkPause(Machine(link), kBetweenVariablesMs, false, now);
    link.step = kPaused;
}

// Reacts to a whole virtual packet of `type` from the calculator.
void TakeVirtual(DusbLink& link, std::uint16_t type, const unsigned char* d, std::size_t n, std::uint64_t now)
{
    LinkMachine& m = Machine(link);
    if (type == kDelayAck) {  // the calculator asks for time, in microseconds (a few seconds at most)
        m.deadline = now + m.answer_within + (n >= 4 ? std::min<std::uint32_t>(GetBE32(d), 4000000) / 1000 : 0);
        return;
    }
    if (type == kError)
        return LinkRefuse(m, kRefusals, n >= 2 ? GetBE16(d) : 0, 4);
    switch (link.step) {
    case kReadyMode:
        if (type == kModeSet)
            return AfterReady(link);
        break;
    case kLeave:
        if (type != kDataAck)
            break;
        if ((LinkCurrent(m).data.size() + 2) % 2 == 0)
            return SendContent(link);
        // For a variable of odd size, the calculator takes its data only in smaller packets of
        // an even size: a tenth of it, at least 58 bytes.
        DusbAskBuffer(link.framing, m, std::max<std::uint32_t>((LinkCurrent(m).data.size() + 2) / 10 & ~1u, kSmallestBuffer));
        link.step = kSmallBuffer;
        return;
    case kContentAck:
        if (type != kDataAck)
            break;
        m.acknowledged += LinkCurrent(m).data.size() + 2;
        return Send(link, kEotPacket, 0, kEot);
    case kList:
        if (type == kVarHeader) {
            if (!TakeHeader(link, d, n))
                LinkFail(m, LinkError::unexpected, "the calculator sent a variable header that does not hold together");
            return;
        }
        if (type != kEotPacket)
            break;
        m.state = LinkState::done;
        return;
    case kHeader:
        if (type != kVarHeader || !TakeHeader(link, d, n))
            break;
        link.step = kContent;
        return;
    case kContent:
        if (type != kVarContent || n < 2 || GetBE16(d) + 2u != n)
            break;
        link.received_size = n;
        m.acknowledged = m.total = n;
        m.state = LinkState::done;
        return;
    }
    LinkFail(m, LinkError::unexpected,
             "the calculator sent an unexpected packet (type 0x%04X) while this computer waited for %s", type,
             kAwaited[link.step]);
}

void Start(DusbLink& link, const Model& model, LinkOperation operation, std::uint64_t now)
{
    LinkBegin(link.machine, model, operation, now);
    DusbFramingReset(link.framing);
    link.variable_ready = link.zero_length_after = false;
    link.received_size = 0;
}

} // namespace

void DusbStartSend(DusbLink& link, const Model& model, std::span<const Variable> variables, std::uint64_t now)
{
    Start(link, model, LinkOperation::send, now);
    LinkMachine& m = link.machine;
    m.variables = variables;
    for (const Variable& v : variables)
        m.total += v.type == kFolderType ? 0 : v.data.size() + 2;
    if (LinkNextVariable(m, 0))
        Ready(link);
    else
        m.state = LinkState::done;
}

void DusbStartList(DusbLink& link, const Model& model, std::span<LinkEntry> entries, std::uint64_t now)
{
    Start(link, model, LinkOperation::list, now);
    link.machine.entries = entries;
    Ready(link);
}

void DusbStartReceive(DusbLink& link, const Model& model, const char* folder, const char* name, unsigned char type,
                      std::uint64_t now)
{
    Start(link, model, LinkOperation::receive, now);
    std::snprintf(link.machine.folder, sizeof link.machine.folder, "%s", folder);
    std::snprintf(link.machine.name, sizeof link.machine.name, "%s", name);
    link.machine.request_type = type;
    Ready(link);
}

std::span<const unsigned char> DusbTakeOutput(DusbLink& link)
{
    std::uint64_t data = 0;
    const std::span<const unsigned char> out = DusbTakeRaw(link.framing, link.zero_length_after, data);
    if (!out.empty())
        LinkTaken(link.machine, data);
    return out;
}

void DusbWritten(DusbLink& link, std::uint64_t now)
{
    LinkWrittenAt(link.machine, now, link.framing.out_taken < link.framing.out_size);
}

void DusbFeed(DusbLink& link, std::span<const unsigned char> bytes, std::uint64_t now)
{
    LinkMachine& m = link.machine;
    if (LinkPauseOver(m, now))
        SendVariable(link);
    for (std::size_t at = 0; m.state == LinkState::running && !LinkSpokeInPause(m, at < bytes.size());) {
        const DusbEvent e = DusbTakeBytes(link.framing, m, bytes, at, now);
        if (e == DusbEvent::none)
            break;
        if (e == DusbEvent::allotted)
            link.step == kReadyBuffer ? SetMode(link) : SendContent(link);
        else if (e == DusbEvent::sent && link.step == kEot)
            AfterVariable(link, now);
        else if (e == DusbEvent::received)
            TakeVirtual(link, GetBE16(link.framing.vin + 4), link.framing.vin + 6, link.framing.vin_whole - 6, now);
    }
    if (LinkSilent(m, now))
        LinkFailSilent(m);
}

Variable DusbReceived(const DusbLink& link)
{
    Variable v = {};
    std::memcpy(v.folder, link.machine.folder, sizeof v.folder);
    std::memcpy(v.name, link.machine.name, sizeof v.name);
    v.type = link.machine.request_type;
    if (link.received_size >= 2)
        v.data = {link.framing.vin + 6 + 2, link.received_size - 2};
    return v;
}
