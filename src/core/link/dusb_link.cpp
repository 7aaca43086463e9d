#include "core/link/dusb_link.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Raw packet types.
constexpr unsigned char kBufSizeRequest = 1, kBufSizeAlloc = 2, kVirtData = 3, kVirtDataLast = 4,
                        kRawAck = 5;
// Virtual packet types.
constexpr std::uint16_t kPing = 0x0001, kDirRequest = 0x0009, kVarHeader = 0x000A, kRts = 0x000B,
                        kVarRequest = 0x000C, kVarContent = 0x000D, kModeSet = 0x0012,
                        kDataAck = 0xAA00, kDelayAck = 0xBB00, kEotPacket = 0xDD00, kError = 0xEE00;
// Attributes.
constexpr std::uint16_t kAttrSize = 0x01, kAttrType = 0x02, kAttrArchived = 0x03, kAttrAppVar = 0x05,
                        kAttrVersion = 0x08, kAttrType2 = 0x11, kAttrLocked = 0x41, kAttrUnknown42 = 0x42;
constexpr unsigned char kFolderType = 0x1F;

enum Operation : unsigned char { kSendOp, kListOp, kReceiveOp };

enum Step : unsigned char {
    kAskBuffer, kAskSmallBuffer, kSendPing, kSendRts, kSendContent, kSendEot, kSendDirRequest,
    kSendVarRequest,
    kWaitBuffer, kWaitMode, kWaitDataAck, kWaitContentAck, kWaitHeaders, kWaitHeader, kWaitContent,
    kNextVariable, kEnd
};
// Every operation opens by asking for a buffer and setting the calculator's mode.
#define READY kAskBuffer, kWaitBuffer, kSendPing, kWaitMode
constexpr unsigned char kOpenScript[] = {READY, kNextVariable};
// A variable of even size: the same again first; of odd size, a smaller buffer for its data.
constexpr unsigned char kEvenScript[] = {READY, kSendRts, kWaitDataAck, kSendContent, kWaitContentAck,
                                         kSendEot, kNextVariable};
constexpr unsigned char kOddScript[] = {kSendRts, kWaitDataAck, kAskSmallBuffer, kWaitBuffer,
                                        kSendContent, kWaitContentAck, kSendEot, kNextVariable};
constexpr unsigned char kListScript[] = {READY, kSendDirRequest, kWaitHeaders, kEnd};
constexpr unsigned char kReceiveScript[] = {READY, kSendVarRequest, kWaitHeader, kWaitContent, kEnd};
#undef READY

const char* const kAwaited[] = {"a buffer size", "the mode's acknowledgement", "leave to send the data",
                                "the data's acknowledgement", "the list", "the variable's header",
                                "the variable"};

void PutBE32(unsigned char* at, std::uint32_t v)
{
    at[0] = v >> 24, at[1] = v >> 16 & 0xFF, at[2] = v >> 8 & 0xFF, at[3] = v & 0xFF;
}
std::uint32_t GetBE32(const unsigned char* at)
{
    return std::uint32_t{at[0]} << 24 | at[1] << 16 | at[2] << 8 | at[3];
}

__attribute__((format(printf, 2, 3))) void Fail(DusbLink& l, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(l.failure, sizeof l.failure, format, args);
    va_end(args);
    l.state = LinkState::failed;
    l.awaited = nullptr;
}

void PutRaw(DusbLink& l, unsigned char type, const unsigned char* data, std::size_t n)
{
    unsigned char* const at = l.out + l.out_size;
    PutBE32(at, n);
    at[4] = type;
    std::memcpy(at + 5, data, n);
    l.out_size += 5 + n;
}

// Sends the next raw packet of the virtual packet in vout.
void SendNextRaw(DusbLink& l)
{
    const std::size_t left = l.vout_size - l.vout_sent;
    const std::size_t n = std::min<std::size_t>(left, l.raw_max);
    // After the first, the last raw packet is the one shorter than the buffer: an empty one
    // when the data fill those before exactly, as libticalcs2 sends them.
    l.vout_last = l.vout_sent == 0 ? left <= l.raw_max : left < l.raw_max;
    PutRaw(l, l.vout_last ? kVirtDataLast : kVirtData, l.vout + l.vout_sent, n);
    l.vout_sent += n;
}

// Starts sending a virtual packet of `type` whose data are already at vout + 6.
void SendVirtual(DusbLink& l, std::uint16_t type, std::size_t n)
{
    PutBE32(l.vout, n);
    l.vout[4] = type >> 8, l.vout[5] = type & 0xFF;
    l.vout_size = n + 6;
    l.vout_sent = 0;
    SendNextRaw(l);
}

// Puts a name as the protocol gives it: its length, then its bytes and a NUL (the length 0
// alone for none).
std::size_t PutName(unsigned char* at, const char* name)
{
    const std::size_t n = std::strlen(name);
    at[0] = static_cast<unsigned char>(n);
    if (n)
        std::memcpy(at + 1, name, n + 1);
    return n ? n + 2 : 1;
}

// Puts an attribute: its ID, its size and `value`'s bytes, big-endian.
std::size_t PutAttribute(unsigned char* at, std::uint16_t id, std::uint32_t value, std::size_t size)
{
    at[0] = id >> 8, at[1] = id & 0xFF, at[2] = 0, at[3] = static_cast<unsigned char>(size);
    for (std::size_t i = 0; i < size; ++i)
        at[4 + i] = value >> 8 * (size - 1 - i) & 0xFF;
    return 4 + size;
}

const Variable& Current(const DusbLink& l) { return l.variables[l.current]; }

bool IsWait(unsigned char step) { return step >= kWaitBuffer && step <= kWaitContent; }

void Run(DusbLink& l, std::uint64_t now);

// Steps on once the virtual packet being sent has gone whole.
void Advance(DusbLink& l, std::uint64_t now)
{
    ++l.step;
    Run(l, now);
}

// Runs the steps that send, up to the next wait or packet in flight.
void Run(DusbLink& l, std::uint64_t now)
{
    l.deadline = now + kLinkTimeoutMs;
    for (;;) {
        const unsigned char step = l.script[l.step];
        if (IsWait(step)) {
            l.awaited = kAwaited[step - kWaitBuffer];
            return;
        }
        unsigned char* d = l.vout + 6;
        std::size_t n = 0;
        switch (step) {
        case kAskBuffer:
        case kAskSmallBuffer: {
            // For a variable of odd size, the calculator takes its data only in smaller packets
            // of an even size: a tenth of it, at least 58 bytes.
            unsigned char b[4];
            PutBE32(b, step == kAskBuffer ? kDusbAskedBuffer
                                          : std::max<std::uint32_t>((Current(l).data.size() + 2) / 10 & ~1u, 0x3A));
            PutRaw(l, kBufSizeRequest, b, 4);
            ++l.step;
            continue;
        }
        case kSendPing: {
            static const unsigned char normal_mode[] = {0, 3, 0, 1, 0, 0, 0, 0, 0x07, 0xD0};
            std::memcpy(d, normal_mode, sizeof normal_mode);
            SendVirtual(l, kPing, sizeof normal_mode);
            break;
        }
        case kSendRts: {
            const Variable& v = Current(l);
            n = PutName(d, v.folder);
            n += PutName(d + n, v.name);
            PutBE32(d + n, v.data.size() + 2);
            d[n + 4] = 0x01;
            d[n + 5] = 0, d[n + 6] = 4;
            n += 7;
            n += PutAttribute(d + n, kAttrType, 0xF00C0000u | v.type, 4);
            n += PutAttribute(d + n, kAttrArchived, v.attribute == kArchived, 1);
            n += PutAttribute(d + n, kAttrVersion, 0, 4);
            n += PutAttribute(d + n, kAttrLocked, v.attribute == 1, 1);
            SendVirtual(l, kRts, n);
            break;
        }
        case kSendContent: {
            const Variable& v = Current(l);
            d[0] = v.data.size() >> 8 & 0xFF, d[1] = v.data.size() & 0xFF;
            std::memcpy(d + 2, v.data.data(), v.data.size());
            SendVirtual(l, kVarContent, v.data.size() + 2);
            break;
        }
        case kSendEot: SendVirtual(l, kEotPacket, 0); break;
        case kSendDirRequest: {
            static const unsigned char request[] = {0, 0, 0, 6, 0, kAttrType, 0, kAttrArchived, 0, kAttrAppVar,
                                                    0, kAttrSize, 0, kAttrLocked, 0, kAttrUnknown42,
                                                    0, 1, 0, 1, 0, 1, 1};
            std::memcpy(d, request, sizeof request);
            SendVirtual(l, kDirRequest, sizeof request);
            break;
        }
        case kSendVarRequest: {
            n = PutName(d, l.folder);
            n += PutName(d + n, l.name);
            static const unsigned char middle[] = {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0, 3, 0, kAttrArchived,
                                                   0, kAttrVersion, 0, kAttrLocked, 0, 1};
            std::memcpy(d + n, middle, sizeof middle);
            n += sizeof middle;
            n += PutAttribute(d + n, kAttrType2, 0xF00C0000u | l.request_type, 4);
            d[n++] = 0, d[n++] = 0;
            SendVirtual(l, kVarRequest, n);
            break;
        }
        case kNextVariable:
            if (l.script != kOpenScript)
                ++l.current;
            while (l.current < l.variables.size() && Current(l).type == kFolderType)
                ++l.current;
            if (l.current < l.variables.size()) {
                l.script = (Current(l).data.size() + 2) % 2 ? kOddScript : kEvenScript;
                l.step = 0;
                continue;
            }
            [[fallthrough]];
        default:
            l.state = LinkState::done;
            l.awaited = nullptr;
            return;
        }
        l.awaited = "an acknowledgement";
        return;  // a virtual packet in flight
    }
}

// Reads a name as the protocol gives it at `at` of `d` (n bytes) into `out`; false when it
// does not fit.
bool GetName(const unsigned char* d, std::size_t n, std::size_t& at, char (&out)[9])
{
    if (at >= n)
        return false;
    const std::size_t len = d[at++];
    out[0] = '\0';
    if (len == 0)
        return true;
    if (len > 8 || at + len + 1 > n)
        return false;
    std::memcpy(out, d + at, len);
    out[len] = '\0';
    at += len + 1;
    return true;
}

// Takes a variable header: the folder, the name and the attributes asked for.
bool TakeHeader(DusbLink& l, const unsigned char* d, std::size_t n)
{
    LinkEntry e = {};
    std::size_t at = 0;
    if (!GetName(d, n, at, e.folder) || !GetName(d, n, at, e.name) || at + 2 > n)
        return false;
    std::size_t count = d[at] << 8 | d[at + 1];
    for (at += 2; count--;) {
        if (at + 3 > n)
            return false;
        const std::uint16_t id = d[at] << 8 | d[at + 1];
        const bool present = d[at + 2] == 0;
        at += 3;
        if (!present)
            continue;
        if (at + 2 > n || at + 2 + (d[at] << 8 | d[at + 1]) > n)
            return false;
        const std::size_t size = d[at] << 8 | d[at + 1];
        const unsigned char* v = d + at + 2;
        at += 2 + size;
        if (id == kAttrType && size == 4)
            e.type = v[3];
        else if (id == kAttrSize && size == 4)
            e.size = GetBE32(v);
        else if (id == kAttrArchived && size >= 1 && v[0])
            e.attribute = kArchived;
        else if (id == kAttrLocked && size >= 1 && v[0] && !e.attribute)
            e.attribute = 1;
    }
    if (l.operation != kListOp)
        return true;
    if (e.type == kFolderType) {  // a folder comes named as the folder of no variable
        std::memcpy(e.name, e.folder, sizeof e.name);
        e.folder[0] = '\0';
    }
    if (!std::strcmp(e.folder, "main") && (!std::strcmp(e.name, "regcoef") || !std::strcmp(e.name, "regeq")))
        return true;
    if (l.entry_count == l.entries.size()) {
        Fail(l, "the calculator lists more variables than room for them");
        return true;
    }
    l.entries[l.entry_count++] = e;
    return true;
}

// The line for the calculator's error `code` about `what`.
void FailWithCode(DusbLink& l, unsigned code)
{
    char what[18];
    const char* folder = l.operation == kSendOp ? Current(l).folder : l.folder;
    const char* name = l.operation == kSendOp ? Current(l).name : l.name;
    std::snprintf(what, sizeof what, *folder ? "%.8s\\%.8s" : "%.0s%.8s", folder, name);
    if (l.operation == kReceiveOp)
        return Fail(l, "the calculator has no variable %s (its code 0x%04X)", what, code);
    if (l.operation == kListOp)
        return Fail(l, "the calculator refused to list its variables (its code 0x%04X)", code);
    switch (code) {
    case 0x0012: return Fail(l, "the calculator refused %s: one of that name is locked", what);
    case 0x0006: return Fail(l, "the calculator refused %s: one of that name is archived", what);
    case 0x000C: return Fail(l, "the calculator refused %s: its memory is full", what);
    case 0x001B: return Fail(l, "the calculator refused %s: the variable is too large", what);
    case 0x0004:
    case 0x000D:
    case 0x000E: return Fail(l, "the calculator refused %s: it does not take that name", what);
    case 0x0011: return Fail(l, "the calculator refused %s: it is busy", what);
    default: return Fail(l, "the calculator refused %s (its code 0x%04X)", what, code);
    }
}

// Reacts to a whole virtual packet from the calculator.
void TakeVirtual(DusbLink& l, std::uint16_t type, const unsigned char* d, std::size_t n, std::uint64_t now)
{
    const unsigned char step = l.script[l.step];
    if (type == kDelayAck) {  // the calculator asks for time, in microseconds (a few seconds at most)
        l.deadline = now + kLinkTimeoutMs + (n >= 4 ? std::min<std::uint32_t>(GetBE32(d), 4000000) / 1000 : 0);
        return;
    }
    if (type == kError)
        return FailWithCode(l, n >= 2 ? d[0] << 8 | d[1] : 0);
    bool expected = false;
    switch (step) {
    case kWaitMode: expected = type == kModeSet; break;
    case kWaitDataAck: expected = type == kDataAck; break;
    case kWaitContentAck:
        expected = type == kDataAck;
        l.acknowledged += expected ? Current(l).data.size() + 2 : 0;
        break;
    case kWaitHeaders:
        if (type == kVarHeader) {
            if (!TakeHeader(l, d, n))
                return Fail(l, "the calculator sent a variable header that does not hold together");
            return;
        }
        expected = type == kEotPacket;
        break;
    case kWaitHeader:
        expected = type == kVarHeader && TakeHeader(l, d, n);
        break;
    case kWaitContent:
        expected = type == kVarContent && n >= 2 && (d[0] << 8 | d[1]) + 2u == n;
        if (expected) {
            std::memmove(l.vin, d, n);  // d is vin + 6: the data move to the front
            l.received_size = n;
            l.acknowledged = l.total = n;
        }
        break;
    }
    if (l.state != LinkState::running)
        return;
    if (!expected)
        return Fail(l, "the calculator sent an unexpected packet (type 0x%04X) while this computer waited for %s",
                    type, l.awaited);
    Advance(l, now);
}

// Reacts to a whole raw packet from the calculator.
void TakeRaw(DusbLink& l, unsigned char type, const unsigned char* d, std::size_t n, std::uint64_t now)
{
    const bool in_flight = l.vout_size != 0;
    const unsigned char step = l.script[l.step];
    if (in_flight) {
        if (type == kBufSizeRequest && n == 4) {  // the calculator asks for another size
            l.raw_max = std::min<std::uint32_t>(GetBE32(d), kDusbMaxRaw);
            unsigned char b[4];
            PutBE32(b, l.raw_max);
            return PutRaw(l, kBufSizeAlloc, b, 4);
        }
        if (type != kRawAck || n != 2 || d[0] != 0xE0 || d[1] != 0x00)
            return Fail(l, "the calculator sent an unexpected packet (raw type %u) while this computer waited for an acknowledgement", type);
        if (!l.vout_last)
            return SendNextRaw(l);
        l.vout_size = 0;
        return Advance(l, now);
    }
    if (step == kWaitBuffer) {
        if (type != kBufSizeAlloc || n != 4)
            return Fail(l, "the calculator sent an unexpected packet (raw type %u) while this computer waited for a buffer size", type);
        l.raw_max = std::min<std::uint32_t>(GetBE32(d), kDusbMaxRaw);
        if (l.raw_max < 7)
            return Fail(l, "the calculator allotted a buffer of %u bytes, too small to use", l.raw_max);
        return Advance(l, now);
    }
    if (type != kVirtData && type != kVirtDataLast)
        return Fail(l, "the calculator sent an unexpected packet (raw type %u) while this computer waited for %s", type, l.awaited);
    if (l.vin_size + n > sizeof l.vin)
        return Fail(l, "the calculator sent a packet larger than any it sends");
    std::memcpy(l.vin + l.vin_size, d, n);
    l.vin_size += n;
    static const unsigned char ack[] = {0xE0, 0x00};
    PutRaw(l, kRawAck, ack, 2);
    if (type == kVirtData)
        return;
    const std::size_t size = l.vin_size;
    l.vin_size = 0;
    if (size < 6 || GetBE32(l.vin) != size - 6)
        return Fail(l, "the calculator sent a packet whose size does not match its data");
    TakeVirtual(l, l.vin[4] << 8 | l.vin[5], l.vin + 6, size - 6, now);
}

void Start(DusbLink& l, unsigned char operation, const unsigned char* script, std::uint64_t now)
{
    l.zero_length_after = false;
    l.vout_last = false;
    l.state = LinkState::running;
    l.awaited = nullptr;
    l.acknowledged = l.total = 0;
    l.failure[0] = '\0';
    l.operation = operation;
    l.script = script;
    l.step = 0;
    l.variables = {};
    l.current = 0;
    l.entries = {};
    l.entry_count = 0;
    l.folder[0] = l.name[0] = '\0';
    l.request_type = 0;
    l.raw_max = 0;
    l.vout_size = l.vout_sent = l.in_size = l.vin_size = l.out_size = l.out_taken = 0;
    l.received_size = 0;
    l.received_type = 0;
    l.deadline = now + kLinkTimeoutMs;
}

} // namespace

void DusbStartSend(DusbLink& l, std::span<const Variable> variables, std::uint64_t now)
{
    l.variables = variables;
    std::uint64_t total = 0;
    for (const Variable& v : variables)
        total += v.type == kFolderType ? 0 : v.data.size() + 2;
    l.current = 0;
    while (l.current < variables.size() && variables[l.current].type == kFolderType)
        ++l.current;
    if (l.current == variables.size()) {
        l.state = LinkState::done;
        l.awaited = nullptr;
        l.out_size = l.out_taken = 0;
        return;
    }
    const std::size_t first = l.current;
    Start(l, kSendOp, kOpenScript, now);
    l.variables = variables;
    l.current = first;
    l.total = total;
    Run(l, now);
}

void DusbStartList(DusbLink& l, std::span<LinkEntry> entries, std::uint64_t now)
{
    Start(l, kListOp, kListScript, now);
    l.entries = entries;
    Run(l, now);
}

void DusbStartReceive(DusbLink& l, const char* folder, const char* name, unsigned char type, std::uint64_t now)
{
    Start(l, kReceiveOp, kReceiveScript, now);
    std::snprintf(l.folder, sizeof l.folder, "%s", folder);
    std::snprintf(l.name, sizeof l.name, "%s", name);
    l.request_type = type;
    l.received_type = type;
    Run(l, now);
}

std::span<const unsigned char> DusbTakeOutput(DusbLink& l, std::uint64_t now)
{
    l.zero_length_after = false;
    if (l.out_taken == l.out_size) {
        l.out_taken = l.out_size = 0;
        return {};
    }
    const unsigned char* const at = l.out + l.out_taken;
    const std::size_t n = 5 + GetBE32(at);
    l.out_taken += n;
    l.zero_length_after = n % 64 == 0 && l.vout_size > 6 + 1076 && (at[4] == kVirtData || at[4] == kVirtDataLast);
    if (l.state == LinkState::running)
        l.deadline = now + kLinkTimeoutMs;
    return {at, n};
}

void DusbFeed(DusbLink& l, std::span<const unsigned char> bytes, std::uint64_t now)
{
    // What the calculator answers goes after what is still to take.
    if (l.out_taken == l.out_size)
        l.out_taken = l.out_size = 0;
    std::size_t i = 0;
    while (l.state == LinkState::running) {
        std::size_t need = 5;
        if (l.in_size >= 5) {
            const std::uint32_t size = GetBE32(l.in);
            if (size > kDusbMaxRaw)
                return Fail(l, "the calculator sent a raw packet of %u bytes, more than any it sends", size);
            need += size;
        }
        if (l.in_size < need) {
            if (i == bytes.size())
                break;
            const std::size_t take = std::min(need - l.in_size, bytes.size() - i);
            std::memcpy(l.in + l.in_size, bytes.data() + i, take);
            l.in_size += take;
            i += take;
            l.deadline = now + kLinkTimeoutMs;
            continue;
        }
        l.in_size = 0;
        TakeRaw(l, l.in[4], l.in + 5, need - 5, now);
    }
    if (l.state == LinkState::running && now >= l.deadline)
        Fail(l, kSilentLine, static_cast<unsigned>(kLinkTimeoutMs / 1000));
}

void DusbDeviceGone(DusbLink& l)
{
    if (l.state == LinkState::running)
        Fail(l, "%s", kGoneLine);
}

Variable DusbReceived(const DusbLink& l)
{
    Variable v = {};
    std::memcpy(v.folder, l.folder, sizeof v.folder);
    std::memcpy(v.name, l.name, sizeof v.name);
    v.type = l.received_type;
    if (l.received_size >= 2)
        v.data = {l.vin + 2, l.received_size - 2};
    return v;
}
