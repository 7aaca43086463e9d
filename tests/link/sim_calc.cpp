#include "sim_calc.h"

#include <algorithm>
#include <array>
#include <deque>
#include <iterator>
#include <numeric>
#include <utility>

namespace {

// The commands of the classic protocol that carry data, and those the computer acknowledges.
bool CarriesData(unsigned char cmd) { return cmd == 0x06 || cmd == 0x15 || cmd == 0x36 || cmd == 0xA2 || cmd == 0xC9; }
bool Acknowledged(unsigned char cmd) { return cmd == 0x06 || cmd == 0x09 || cmd == 0x15 || cmd == 0x78 || cmd == 0x92; }

// Appends `v` in `n` bytes (zeros past the fourth), little-endian or big-endian.
void Put(Bytes& b, std::uint32_t v, int n, bool big = false)
{
    for (int i = 0, k; i < n; ++i)
        b.push_back((k = big ? n - 1 - i : i) < 4 ? v >> 8 * k & 0xFF : 0);
}

// The big-endian number in the `n` bytes at `at`.
std::uint32_t Big(const Bytes& d, std::size_t at, int n)
{
    return std::accumulate(&d.at(at), &d.at(at + n - 1) + 1, 0u, [](std::uint32_t v, unsigned char b) { return v << 8 | b; });
}

// A name as the USB protocol gives it: its length, then its bytes and a NUL (none when empty).
std::string GetName(const Bytes& d, std::size_t& at)
{
    const std::size_t n = d.at(at++);
    at += n ? n + 1 : 0;
    return std::string(d.begin() + at - (n ? n + 1 : 0), d.begin() + at - (n ? 1 : 0));
}

// A USB variable header: folder, name, then each attribute (ID, size, value) present.
Bytes Header(const SimVar& v, std::initializer_list<std::array<std::uint32_t, 3>> attributes)
{
    Bytes h;
    for (const std::string* name : {&v.folder, &v.name}) {
        h.push_back(name->size());
        if (!name->empty())
            h.insert(h.end(), name->c_str(), name->c_str() + name->size() + 1);
    }
    Put(h, attributes.size(), 2, true);
    for (const auto& [id, size, value] : attributes) {
        Put(h, id << 8, 3, true);
        Put(h, size, 2, true);
        Put(h, value, size, true);
    }
    return h;
}

// Each folder ("main" first) as an entry of type 0x1F without a name, then its variables.
std::vector<SimVar> Listing(const SimCalc& s)
{
    std::vector<std::string> folders = {"main"};
    for (const SimVar& v : s.vars)
        if (std::find(folders.begin(), folders.end(), v.folder) == folders.end())
            folders.push_back(v.folder);
    std::vector<SimVar> list;
    for (const std::string& f : folders) {
        list.push_back({f, "", 0x1F, 0, {}});
        std::copy_if(s.vars.begin(), s.vars.end(), std::back_inserter(list), [&](const SimVar& v) { return v.folder == f; });
    }
    return list;
}

// The variable folder\name of `type`, or null: a variable asked for with another type than
// it has is not found (whether a calculator finds it is not known; libticalcs2 asks with the
// type listed).
const SimVar* Find(const SimCalc& s, const std::string& folder, const std::string& name, int type)
{
    for (const SimVar& v : s.vars)
        if (v.folder == folder && v.name == name && (type < 0 || v.type == type))
            return &v;
    return nullptr;
}

// The code refusing the pending variable, 0 for none.
unsigned Refusal(const SimCalc& s)
{
    if (const SimVar* v = Find(s, s.pending_.folder, s.pending_.name, -1); v && v->attribute)
        return s.usb ? 0x0012 : 0x1E;  // one of that name is locked or archived
    return s.busy && s.usb ? 0x0034 : s.refusal;
}

// Keeps the pending variable, in place of one of its name.
void Store(SimCalc& s, Bytes stored)
{
    std::erase_if(s.vars, [&](const SimVar& v) { return v.folder == s.pending_.folder && v.name == s.pending_.name; });
    s.pending_.stored = std::move(stored);
    s.vars.push_back(s.pending_);
}

// Sends `packet`, or keeps it until the computer acknowledged what it must: the calculator says
// nothing more until then. `owed`: the computer must acknowledge this one.
void Emit(SimCalc& s, Bytes packet, bool owed)
{
    if (s.owed_ack_)
        return s.queue_.push_back({std::move(packet), owed});
    s.out.insert(s.out.end(), packet.begin(), packet.end());
    s.owed_ack_ = owed;
}

// The computer acknowledged: what waited goes.
void Acknowledge(SimCalc& s)
{
    for (s.owed_ack_ = false; !s.owed_ack_ && !s.queue_.empty(); s.queue_.pop_front())
        Emit(s, std::move(s.queue_.front().first), s.queue_.front().second);
}

// Sends a classic packet from its machine: with `data`, its size and checksum (off by one when
// damaged); else `length` (a status word).
void Send(SimCalc& s, unsigned char cmd, const Bytes& data = {}, unsigned length = 0)
{
    if (cmd == 0x56 && ++s.acks_ == s.missing_ack)
        return;
    Bytes p = {s.model->link_id, cmd};
    Put(p, CarriesData(cmd) ? data.size() : length, 2);
    if (CarriesData(cmd)) {
        p.insert(p.end(), data.begin(), data.end());
        Put(p, std::accumulate(data.begin(), data.end(), unsigned(s.damaged)), 2);
    }
    Emit(s, p, Acknowledged(cmd));
}

void Answer(SimCalc& s, unsigned char cmd, const Bytes& d)
{
    const std::string full = d.size() >= 6 ? std::string(d.begin() + 6, d.begin() + 6 + std::min<std::size_t>(d[5], d.size() - 6)) : "";
    const std::string folder = full.substr(0, full.find('\\')), name = full.substr(full.find('\\') + 1);
    switch (cmd) {
    case 0x68:  // RDY: ready, or busy
        return Send(s, 0x56, {}, s.busy ? 0x0100 : 0);
    case 0x06:    // VAR: a variable sent to the TI-92
    case 0xC9: {  // RTS: folder\name, its type (or attribute: 0x26 locked, 0x27 archived)
        s.pending_ = {folder, name, d[4] == 0x26 || d[4] == 0x27 ? kTextType : d[4], static_cast<unsigned char>(d[4] == 0x26 ? 1 : d[4] == 0x27 ? 3 : 0), {}};
        if (s.out_of_turn)
            return Send(s, 0x09);
        Send(s, 0x56);
        const unsigned code = Refusal(s);
        return code ? Send(s, 0x36, {0x01, 0x00, static_cast<unsigned char>(code)}) : Send(s, 0x09);
    }
    case 0x15:  // XDP: four zero bytes, then the variable as stored
        Store(s, Bytes(d.begin() + 4, d.end()));
        s.held_ = s.out.size();
        return Send(s, 0x56, {}, s.ack_status);
    case 0x92:  // EOT
        return Send(s, 0x56);
    case 0x09:  // CTS: the next data; once acknowledged, the next entry (the TI-92's list) or the end
        Send(s, 0x56);
        Send(s, 0x15, s.outbox_[s.next_++]);
        return Send(s, s.next_ < s.outbox_.size() ? 0x78 : 0x92);
    case 0xA2: {  // REQ: a variable, the list (on the TI-92 an entry an XDP), or a folder's list
        const bool list = d[4] == 0x19 || d[4] == 0x1A, each = !list || !s.model->list_entry_size;
        const std::string only = d[3] == 0x1B ? full : "";  // the folder whose list is asked
        s.outbox_.assign(!each, Bytes(4, 0));
        s.next_ = 0;
        for (const SimVar& v : list ? Listing(s) : s.vars) {
            // The variable asked for; every folder's entry or the asked one's, and its variables
            // (all of them on the TI-92).
            if (!list ? v.folder != folder || v.name != name || v.type != d[4]
                      : v.name.empty() ? !only.empty() && v.folder != only : !each && v.folder != only)
                continue;
            Bytes& b = each ? s.outbox_.emplace_back(4, 0) : s.outbox_.back();
            if (!list) {  // the variable as stored
                b.insert(b.end(), v.stored.begin(), v.stored.end());
                continue;
            }
            // A list entry: the name in 8 bytes, the type, the attribute, the size in 4 bytes
            // (the TI-89 family reads 3), then to fill the model's entry (8 more on the Voyage 200).
            const std::string& shown = v.name.empty() ? v.folder : v.name;
            b.insert(b.end(), shown.begin(), shown.end());
            b.insert(b.end(), 8 - shown.size(), 0);
            b.insert(b.end(), {v.type, v.attribute});
            Put(b, v.stored.size(), s.model->list_entry_size ? s.model->list_entry_size - 10 : 4);
        }
        Send(s, 0x56);
        if (s.outbox_.empty())  // no such variable
            return Send(s, 0x36, {0x01, 0x00, 0x21});
        Bytes var;
        Put(var, s.outbox_[0].size() - (list ? 0 : 4), 4);
        var.insert(var.end(), {d[4], 0});
        return Send(s, 0x06, var);
    }
    }
}

// Cuts a virtual packet into raw packets of the allotted size.
void SendVirtual(SimCalc& s, std::uint16_t type, const Bytes& data)
{
    if (type == 0xAA00 && ++s.acks_ == s.missing_ack)
        return;
    if (s.delays && (type == 0xAA00 || type == 0xEE00))  // asks for 10 ms first
        SendVirtual(s, 0xBB00, {0x00, 0x00, 0x27, 0x10});
    Bytes v;
    Put(v, data.size() + (s.damaged && type == 0x000D), 4, true);
    Put(v, type, 2, true);
    v.insert(v.end(), data.begin(), data.end());
    for (std::size_t at = 0; at < v.size(); at += s.raw_max_) {
        const std::size_t n = std::min<std::size_t>(v.size() - at, s.raw_max_);
        Bytes raw;
        Put(raw, n, 4, true);
        raw.push_back(at + n == v.size() ? 4 : 3);
        raw.insert(raw.end(), v.begin() + at, v.begin() + at + n);
        Emit(s, raw, true);
    }
}

void AnswerVirtual(SimCalc& s, const Bytes& v)
{
    const Bytes d(v.begin() + 6, v.end());
    std::size_t at = 0;
    const std::uint32_t type = Big(v, 4, 2);
    if (s.busy && (type == 0x0009 || type == 0x000C))  // every request but the ping refused
        return SendVirtual(s, 0xEE00, {0x00, 0x34});
    switch (type) {
    case 0x0001:  // ping: the mode is set
        return SendVirtual(s, 0x0012, {});
    case 0x000B:  // RTS: folder, name, size, flag, then the type, archived, version and locked attributes
        // A braced list reads its items in order: the folder, the name, then the attributes'
        // values (the type's last byte 14 bytes after the name, archived 19, locked 32).
        s.pending_ = {GetName(d, at), GetName(d, at), d.at(at + 14), static_cast<unsigned char>(d.at(at + 19) ? 3 : d.at(at + 32) ? 1 : 0), {}};
        if (s.out_of_turn)
            return SendVirtual(s, 0x000D, {});
        if (const unsigned code = Refusal(s))
            return SendVirtual(s, 0xEE00, {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)});
        return SendVirtual(s, 0xAA00, {0x00, 0x01});
    case 0x000D:  // the content, as stored
        Store(s, d);
        s.held_ = s.out.size();
        return SendVirtual(s, 0xAA00, {0x00, 0x01});
    case 0x0009:  // the list: each folder, then its variables, then EOT
        for (const SimVar& e : Listing(s))
            SendVirtual(s, 0x000A, Header(e, {{0x02, 4, 0xF00C0000u | e.type}, {0x03, 1, e.attribute == 3}, {0x05, 1, 0},
                                           {0x01, 4, static_cast<std::uint32_t>(e.stored.size())}, {0x41, 1, e.attribute == 1}, {0x42, 1, 0}}));
        return SendVirtual(s, 0xDD00, {});
    case 0x000C: {  // a variable asked for: its header, then its content (the type given ends the request)
        const std::string folder = GetName(d, at), name = GetName(d, at);
        if (const SimVar* e = Find(s, folder, name, d.at(d.size() - 3))) {
            SendVirtual(s, 0x000A, Header(*e, {{0x03, 1, e->attribute == 3}, {0x08, 4, 0}, {0x41, 1, e->attribute == 1}}));
            return SendVirtual(s, 0x000D, e->stored);
        }
        return SendVirtual(s, 0xEE00, {0x00, 0x04});
    }
    }
}

// Takes the computer's whole packet `p`, ignoring what a real calculator would not answer.
void TakePacket(SimCalc& s, const Bytes& p)
{
    if (s.usb) {
        if (p[4] == 5)  // the computer's acknowledgement: the next raw packet may go
            return Acknowledge(s);
        if ((s.silent = s.owed_ack_))
            return;
        if (p[4] == 1) {  // buffer size request: allotted, 1,023 bytes at most
            s.raw_max_ = s.allot ? s.allot : std::min<std::uint32_t>(Big(p, 5, 4), 1023);
            s.out.insert(s.out.end(), {0, 0, 0, 4, 2});
            return Put(s.out, s.raw_max_, 4, true);
        }
        s.out.insert(s.out.end(), {0, 0, 0, 2, 5, 0xE0, 0x00});
        s.vin_.insert(s.vin_.end(), p.begin() + 5, p.end());
        if (p[4] == 4)
            AnswerVirtual(s, std::exchange(s.vin_, {}));
        return;
    }
    if (p[0] != s.model->computer_id)
        return;  // addressed to another machine
    if (p[1] == 0x56 && s.owed_ack_)
        return Acknowledge(s);
    if (!(s.silent = s.owed_ack_))
        Answer(s, p[1], CarriesData(p[1]) ? Bytes(p.begin() + 4, p.end() - 2) : Bytes());
}

} // namespace

bool SimCalc::Take(const unsigned char* data, std::size_t n)
{
    for (std::size_t i = 0; i < n && log.size() < gone_after; ++i) {
        log.push_back(data[i]);
        in_.push_back(data[i]);
        const std::size_t need = usb ? (in_.size() < 5 ? 5 : 5 + Big(in_, 0, 4))
                               : in_.size() < 4 ? 4 : 4 + (CarriesData(in_[1]) ? (in_[2] | in_[3] << 8) + 2 : 0);
        if (in_.size() == need && !silent)
            TakePacket(*this, in_);
        if (in_.size() == need)
            in_.clear();
    }
    return gone_after > log.size();
}
