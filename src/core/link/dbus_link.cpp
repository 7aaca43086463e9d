#include "core/link/dbus_link.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Commands.
constexpr unsigned char kVar = 0x06, kCts = 0x09, kXdp = 0x15, kSkp = 0x36, kAck = 0x56,
                        kErr = 0x5A, kCnt = 0x78, kEot = 0x92, kReq = 0xA2, kRts = 0xC9;

// The types a listing asks for, and the attributes that replace a variable's type in RTS.
constexpr unsigned char kFolderType = 0x1F, kLocalFolder = 0x1B, kRequestList89 = 0x1A,
                        kRequestList92 = 0x19, kLockedType = 0x26, kArchivedType = 0x27;

enum Operation : unsigned char { kSendOp, kListOp, kReceiveOp };

// Each operation is a script of steps: the sends run at once, each wait holds until the
// calculator's packet comes.
enum Step : unsigned char {
    kSendRts, kSendReq, kSendAck, kSendCts, kSendXdp, kSendEot,
    kWaitAck, kWaitDataAck, kWaitReqAck, kWaitCts, kWaitVar, kWaitXdp, kWaitEot, kWaitCntOrEot,
    kEnd
};
constexpr unsigned char kSendScript[] = {kSendRts, kWaitAck, kWaitCts,
                                         kSendAck, kSendXdp, kWaitDataAck, kSendEot, kWaitAck, kEnd};
constexpr unsigned char kFetchScript[] = {kSendReq, kWaitReqAck, kWaitVar, kSendAck, kSendCts, kWaitAck,
                                          kWaitXdp, kSendAck, kWaitEot, kSendAck, kEnd};
// The TI-92 lists one entry per XDP, each followed by CNT, and the last by EOT.
constexpr unsigned char kList92Script[] = {kSendReq, kWaitAck, kWaitVar, kSendAck, kSendCts, kWaitAck,
                                           kWaitXdp, kSendAck, kWaitCntOrEot, kSendAck, kEnd};
constexpr std::size_t kList92Loop = 3;

const char* const kAwaited[] = {
    "an acknowledgement", "an acknowledgement of the data", "an acknowledgement of the request",
    "leave to send", "the variable's header", "the data", "the end of the transfer",
    "the next entry or the end"};

bool IsWait(unsigned char step) { return step >= kWaitAck && step < kEnd; }
bool Is92(const DbusLink& l) { return l.model == LinkModel::ti92; }
unsigned char MachineId(const DbusLink& l) { return Is92(l) ? 0x09 : 0x08; }
bool CarriesData(unsigned char cmd)
{
    return cmd == kVar || cmd == kXdp || cmd == kSkp || cmd == kReq || cmd == kRts;
}

__attribute__((format(printf, 2, 3))) void Fail(DbusLink& l, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(l.failure, sizeof l.failure, format, args);
    va_end(args);
    l.state = LinkState::failed;
    l.awaited = nullptr;
}

// Puts a packet of command `cmd` after the pending output: `data`, with its sum, when the
// command carries data, else the 16-bit `length` alone.
void Put(DbusLink& l, unsigned char cmd, std::span<const unsigned char> data = {})
{
    unsigned char* at = l.out + l.out_size;
    at[0] = MachineId(l);
    at[1] = cmd;
    PutLE16(at + 2, CarriesData(cmd) ? data.size() : 0);
    l.out_size += 4;
    if (!CarriesData(cmd))
        return;
    std::memcpy(at + 4, data.data(), data.size());
    PutLE16(at + 4 + data.size(), DbusChecksum(data));
    l.out_size += data.size() + 2;
}

// The header of RTS or REQ: the 32-bit size, the type, the name's length and the name.
void PutHeader(DbusLink& l, unsigned char cmd, std::uint32_t size, unsigned char type,
               const char* name, bool trailing_zero)
{
    unsigned char h[6 + 17 + 1];
    const std::size_t n = std::strlen(name);
    PutLE32(h, size);
    h[4] = type;
    h[5] = static_cast<unsigned char>(n);
    std::memcpy(h + 6, name, n);
    h[6 + n] = 0;
    Put(l, cmd, {h, 6 + n + trailing_zero});
}

const Variable& Current(const DbusLink& l) { return l.variables[l.current]; }

// folder\name, or the name alone without a folder.
void FullName(char (&out)[18], const char* folder, const char* name)
{
    std::snprintf(out, sizeof out, *folder ? "%.8s\\%.8s" : "%.0s%.8s", folder, name);
}

void RunSends(DbusLink& l, std::uint64_t now);

// Moves to the next variable to send or folder to list, or ends.
void NextItem(DbusLink& l, std::uint64_t now)
{
    if (l.operation == kSendOp) {
        while (++l.current < l.variables.size() && Current(l).type == kFolderType) {}
        if (l.current < l.variables.size()) {
            l.step = 0;
            return RunSends(l, now);
        }
    } else if (l.operation == kListOp && !Is92(l)) {
        // The first listing gave the folders; each is then listed in turn.
        for (; l.folder_cursor < l.entry_count; ++l.folder_cursor) {
            const LinkEntry& e = l.entries[l.folder_cursor];
            if (e.type != kFolderType || e.folder[0])
                continue;
            std::snprintf(l.request, sizeof l.request, "%s", e.name);
            l.request_type = kLocalFolder;
            ++l.folder_cursor;
            l.step = 0;
            return RunSends(l, now);
        }
    }
    l.state = LinkState::done;
    l.awaited = nullptr;
}

void RunSends(DbusLink& l, std::uint64_t now)
{
    for (;; ++l.step) {
        const unsigned char step = l.script[l.step];
        if (IsWait(step)) {
            l.awaited = kAwaited[step - kWaitAck];
            l.deadline = now + kLinkTimeoutMs;
            return;
        }
        switch (step) {
        case kSendRts: {
            const Variable& v = Current(l);
            char name[18];
            FullName(name, v.folder, v.name);
            // The TI-92 has no archive: its variables go as they are.
            const unsigned char type = Is92(l) ? v.type
                                     : v.attribute == 1 ? kLockedType
                                     : v.attribute == 2 || v.attribute == kArchived ? kArchivedType
                                                                                    : v.type;
            PutHeader(l, Is92(l) ? kVar : kRts, v.data.size() + 2, type, name, !Is92(l));
            break;
        }
        case kSendReq:
            if (l.request_type == kLocalFolder)  // the folder's name where the size's top byte says so
                PutHeader(l, kReq, std::uint32_t{kLocalFolder} << 24, kRequestList89, l.request, false);
            else if (l.operation == kListOp)
                PutHeader(l, kReq, Is92(l) ? 0 : std::uint32_t{kFolderType} << 24,
                          Is92(l) ? kRequestList92 : kRequestList89, "", false);
            else
                PutHeader(l, kReq, 0, l.request_type, l.request, false);
            break;
        case kSendAck: Put(l, kAck); break;
        case kSendCts: Put(l, kCts); break;
        case kSendEot: Put(l, kEot); break;
        case kSendXdp: {
            const Variable& v = Current(l);
            unsigned char* const at = l.out + l.out_size;
            // Four zero bytes, the big-endian size, the data: built in place, then framed.
            unsigned char* const data = at + 4;
            std::memset(data, 0, 4);
            PutBE16(data + 4, v.data.size());
            std::memcpy(data + 6, v.data.data(), v.data.size());
            const std::size_t n = v.data.size() + 6;
            at[0] = MachineId(l);
            at[1] = kXdp;
            PutLE16(at + 2, n);
            PutLE16(data + n, DbusChecksum({data, n}));
            l.out_size += n + 6;
            break;
        }
        default:
            return NextItem(l, now);
        }
    }
}

// Adds a listing entry, its name the first 8 bytes at `at`, to the list.
void AddEntry(DbusLink& l, const unsigned char* at, const char* folder, std::uint32_t size)
{
    if (l.entry_count == l.entries.size())
        return Fail(l, "the calculator lists more variables than room for them");
    LinkEntry& e = l.entries[l.entry_count];
    std::memcpy(e.name, at, 8);
    e.name[8] = '\0';
    std::snprintf(e.folder, sizeof e.folder, "%s", folder);
    e.type = at[8];
    e.attribute = at[9];
    e.size = size;
    // The calculator's own statistics variables stay out of the list.
    const bool own = !std::strcmp(folder, "main") && (!std::strcmp(e.name, "regcoef") || !std::strcmp(e.name, "regeq"));
    l.entry_count += !own;
}

// Takes an XDP's data: a listing's entries or the variable received.
void TakeXdp(DbusLink& l, const unsigned char* data, std::size_t n)
{
    if (n < 4)
        return Fail(l, "the calculator sent a data packet too short to hold anything");
    if (l.operation == kReceiveOp) {
        if (n - 4 != l.total || n < 6 || GetBE16(data + 4) != n - 6)
            return Fail(l, "the calculator sent %s with a size that disagrees with its header", l.request);
        l.received_size = n - 4;
        std::memcpy(l.received, data + 4, n - 4);
        l.acknowledged = n - 4;
        return;
    }
    if (Is92(l)) {
        if (n < 18)
            return Fail(l, "the calculator sent a data packet too short to hold anything");
        const bool is_folder = data[12] == kFolderType;
        // The TI-92 names each folder in an entry of its own, before its variables.
        std::size_t last_folder = l.entry_count;
        while (last_folder > 0 && l.entries[last_folder - 1].type != kFolderType)
            --last_folder;
        const char* in = is_folder || last_folder == 0 ? "" : l.entries[last_folder - 1].name;
        return AddEntry(l, data + 4, in, GetLE32(data + 14));
    }
    // TI-89 family: 14-byte entries (22 on the Voyage 200); a folder's own listing opens with
    // an entry for the folder.
    const std::size_t size = l.model == LinkModel::v200 ? 22 : 14;
    const bool root = l.request_type != kLocalFolder;
    for (std::size_t j = root ? 4 : 4 + size; j + 14 <= n && l.state == LinkState::running; j += size) {
        if (root && data[j + 8] != kFolderType)
            continue;
        const std::uint32_t s = data[j + 10] | data[j + 11] << 8 | data[j + 12] << 16;
        AddEntry(l, data + j, root ? "" : l.request, s);
    }
}

// Reacts to the calculator's packet of command `cmd` with `data` (n bytes; for a packet
// without data, n is its length field) while at a wait step.
void TakePacket(DbusLink& l, unsigned char cmd, const unsigned char* data, std::size_t n, std::uint64_t now)
{
    const unsigned char step = l.script[l.step];
    char name[18];
    if (l.operation == kSendOp)
        FullName(name, Current(l).folder, Current(l).name);
    else
        std::snprintf(name, sizeof name, "%s", l.request);
    const bool fetching = l.operation == kReceiveOp && (step == kWaitReqAck || step == kWaitVar);
    if (cmd == kErr)
        return Fail(l, "the calculator reports that a packet arrived damaged");
    if (cmd == kSkp || (fetching && (cmd == kEot || (cmd == kAck && n != 0)))) {
        if (fetching)
            return Fail(l, "the calculator has no variable %s", name);
        if (Is92(l) || n < 3)
            return Fail(l, "the calculator refused %s", name);
        switch (data[2]) {
        case 0x1E: return Fail(l, "the calculator refused %s: one of that name is locked or archived", name);
        case 0x25: return Fail(l, "the calculator refused %s: it does not take that name", name);
        default: return Fail(l, "the calculator refused %s (its code 0x%02X)", name, data[2]);
        }
    }
    bool expected = false;
    switch (step) {
    case kWaitAck:
    case kWaitReqAck: expected = cmd == kAck && n == 0; break;
    case kWaitDataAck:
        expected = cmd == kAck && n == 0;
        l.acknowledged += expected ? Current(l).data.size() + 2 : 0;
        break;
    case kWaitCts: expected = cmd == kCts; break;
    case kWaitVar:
        expected = cmd == kVar && n >= 6 && 6u + data[5] <= n;
        if (expected && l.operation == kReceiveOp) {
            l.total = GetLE32(data);
            l.received_type = data[4];
            if (l.total < 2 || l.total > 65535 - 4)
                return Fail(l, "the calculator announced %s with a size no variable has", name);
        }
        break;
    case kWaitXdp:
        expected = cmd == kXdp;
        if (expected)
            TakeXdp(l, data, n);
        break;
    case kWaitEot: expected = cmd == kEot; break;
    case kWaitCntOrEot:
        if (cmd == kCnt) {
            l.step = kList92Loop;
            return RunSends(l, now);
        }
        expected = cmd == kEot;
        break;
    }
    if (!expected)
        return Fail(l, "the calculator sent an unexpected packet (command 0x%02X) while this computer waited for %s",
                    cmd, l.awaited);
    if (l.state != LinkState::running)
        return;
    ++l.step;
    RunSends(l, now);
}

bool KnownCommand(unsigned char cmd)
{
    return CarriesData(cmd) || cmd == kCts || cmd == kAck || cmd == kErr || cmd == kCnt || cmd == kEot;
}

void Start(DbusLink& l, LinkModel model, unsigned char operation, const unsigned char* script)
{
    l.model = model;
    l.operation = operation;
    l.state = LinkState::running;
    l.awaited = nullptr;
    l.acknowledged = l.total = 0;
    l.failure[0] = '\0';
    l.script = script;
    l.step = 0;
    l.variables = {};
    l.current = 0;
    l.entries = {};
    l.entry_count = l.folder_cursor = 0;
    l.request[0] = '\0';
    l.request_type = 0;
    l.in_size = l.out_size = l.received_size = 0;
    l.received_type = 0;
}

} // namespace

std::uint16_t DbusChecksum(std::span<const unsigned char> data)
{
    unsigned sum = 0;
    for (unsigned char b : data)
        sum += b;
    return sum & 0xFFFF;
}

void DbusStartSend(DbusLink& l, LinkModel model, std::span<const Variable> variables, std::uint64_t now)
{
    Start(l, model, kSendOp, kSendScript);
    l.variables = variables;
    for (const Variable& v : variables)
        l.total += v.type == kFolderType ? 0 : v.data.size() + 2;
    l.current = 0;
    while (l.current < variables.size() && variables[l.current].type == kFolderType)
        ++l.current;
    if (l.current == variables.size()) {
        l.state = LinkState::done;
        return;
    }
    RunSends(l, now);
}

void DbusStartList(DbusLink& l, LinkModel model, std::span<LinkEntry> entries, std::uint64_t now)
{
    Start(l, model, kListOp, model == LinkModel::ti92 ? kList92Script : kFetchScript);
    l.entries = entries;
    RunSends(l, now);
}

void DbusStartReceive(DbusLink& l, LinkModel model, const char* folder, const char* name,
                      unsigned char type, std::uint64_t now)
{
    Start(l, model, kReceiveOp, kFetchScript);
    FullName(l.request, folder, name);
    l.request_type = type;
    RunSends(l, now);
}

std::span<const unsigned char> DbusTakeOutput(DbusLink& l, std::uint64_t now)
{
    const std::size_t n = l.out_size;
    l.out_size = 0;
    if (n && l.state == LinkState::running)
        l.deadline = now + kLinkTimeoutMs;
    return {l.out, n};
}

void DbusFeed(DbusLink& l, std::span<const unsigned char> bytes, std::uint64_t now)
{
    std::size_t i = 0;
    while (l.state == LinkState::running) {
        if (l.in_size >= 2 && !KnownCommand(l.in[1]))
            return Fail(l, "the calculator sent an unknown packet (command 0x%02X)", l.in[1]);
        std::size_t need = 4;
        if (l.in_size >= 4 && CarriesData(l.in[1]))
            need += GetLE16(l.in + 2) + 2;
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
        if (need == 4) {
            TakePacket(l, l.in[1], nullptr, GetLE16(l.in + 2), now);
            continue;
        }
        const std::size_t n = need - 6;
        if (GetLE16(l.in + 4 + n) != DbusChecksum({l.in + 4, n}))
            return Fail(l, "the calculator sent a packet whose checksum does not match");
        TakePacket(l, l.in[1], l.in + 4, n, now);
    }
    if (l.state == LinkState::running && now >= l.deadline)
        Fail(l, kSilentLine, static_cast<unsigned>(kLinkTimeoutMs / 1000));
}

void DbusDeviceGone(DbusLink& l)
{
    if (l.state == LinkState::running)
        Fail(l, "%s", kGoneLine);
}

Variable DbusReceived(const DbusLink& l)
{
    Variable v = {};
    const char* slash = std::strchr(l.request, '\\');
    if (slash)
        std::snprintf(v.folder, sizeof v.folder, "%.*s", static_cast<int>(slash - l.request), l.request);
    std::snprintf(v.name, sizeof v.name, "%.8s", slash ? slash + 1 : l.request);
    v.type = l.received_type;
    if (l.received_size >= 2)
        v.data = {l.received + 2, l.received_size - 2};
    return v;
}
