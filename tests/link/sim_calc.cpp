#include "sim_calc.h"

#include <algorithm>
#include <array>

namespace {

// The commands of the classic protocol that carry data.
bool CarriesData(unsigned char cmd)
{
    return cmd == 0x06 || cmd == 0x15 || cmd == 0x36 || cmd == 0xA2 || cmd == 0xC9;
}

// Appends `v` in `n` bytes (zeros past the fourth), little-endian or big-endian.
void Put(Bytes& b, std::uint32_t v, int n, bool big = false)
{
    for (int i = 0, k; i < n; ++i)
        b.push_back((k = big ? n - 1 - i : i) < 4 ? v >> 8 * k & 0xFF : 0);
}

std::uint32_t Big(const Bytes& d, std::size_t at, int n)
{
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | d.at(at + i);
    return v;
}

// A name as the USB protocol gives it: its length, then its bytes and a NUL (none when empty).
void PutName(Bytes& b, const std::string& name)
{
    b.push_back(name.size());
    if (!name.empty())
        b.insert(b.end(), name.c_str(), name.c_str() + name.size() + 1);
}
std::string GetName(const Bytes& d, std::size_t& at)
{
    const std::size_t n = d.at(at++);
    at += n ? n + 1 : 0;
    return std::string(d.begin() + at - (n ? n + 1 : 0), d.begin() + at - (n ? 1 : 0));
}

// A USB variable header: folder, name, then each attribute (ID, size, value) present.
Bytes Header(const std::string& folder, const std::string& name, std::initializer_list<std::array<std::uint32_t, 3>> attributes)
{
    Bytes h;
    PutName(h, folder);
    PutName(h, name);
    Put(h, attributes.size(), 2, true);
    for (const auto& [id, size, value] : attributes) {
        Put(h, id << 8, 3, true);
        Put(h, size, 2, true);
        Put(h, value, size, true);
    }
    return h;
}

} // namespace

std::vector<std::string> SimCalc::Folders() const
{
    std::vector<std::string> folders = {"main"};
    for (const SimVar& v : vars)
        if (std::find(folders.begin(), folders.end(), v.folder) == folders.end())
            folders.push_back(v.folder);
    return folders;
}

// Whether the pending variable is refused, and with what code.
bool SimCalc::Store(unsigned& code)
{
    code = refusal;
    for (const SimVar& v : vars)
        if (v.folder == pending_.folder && v.name == pending_.name && v.attribute)
            code = usb ? 0x0012 : 0x1E;  // one of that name is locked or archived
    return code != 0;
}

bool SimCalc::Take(const unsigned char* data, std::size_t n)
{
    for (std::size_t i = 0; i < n && !(gone_after <= log.size()); ++i) {
        log.push_back(data[i]);
        in_.push_back(data[i]);
        const std::size_t need = usb ? (in_.size() < 5 ? 5 : 5 + Big(in_, 0, 4))
                               : in_.size() < 4 ? 4 : 4 + (CarriesData(in_[1]) ? (in_[2] | in_[3] << 8) + 2 : 0);
        if (in_.size() < need)
            continue;
        const Bytes p = std::move(in_);
        in_.clear();
        if (silent)
            continue;
        if (usb && p[4] == 1) {  // buffer size request: allotted, 1,023 bytes at most
            raw_max_ = std::min<std::uint32_t>(Big(p, 5, 4), 1023);
            out.insert(out.end(), {0, 0, 0, 4, 2});
            for (int k = 3; k >= 0; --k)
                out.push_back(raw_max_ >> 8 * k & 0xFF);
        } else if (usb && p[4] == 5) {  // acknowledgement: the next raw packet may go
            in_flight_ = false;
            Release();
        } else if (usb) {
            out.insert(out.end(), {0, 0, 0, 2, 5, 0xE0, 0x00});
            vin_.insert(vin_.end(), p.begin() + 5, p.end());
            if (p[4] == 4)
                AnswerVirtual(Big(vin_, 4, 2), Bytes(vin_.begin() + 6, vin_.end())), vin_.clear();
        } else {
            unsigned sum = 0;
            for (std::size_t k = 4; k + 2 < p.size(); ++k)
                sum += p[k];
            if (CarriesData(p[1]) && (p[p.size() - 2] | p[p.size() - 1] << 8) != (sum & 0xFFFF))
                Send(0x5A);  // ERR: the packet arrived damaged
            else
                Answer(p[1], CarriesData(p[1]) ? Bytes(p.begin() + 4, p.end() - 2) : Bytes());
        }
    }
    return gone_after > log.size();
}

void SimCalc::Send(unsigned char cmd, const Bytes& data, bool carries)
{
    const unsigned char id = model == LinkModel::ti92 ? 0x89 : model == LinkModel::ti92p || model == LinkModel::v200 ? 0x88 : 0x98;
    out.insert(out.end(), {id, cmd, static_cast<unsigned char>(data.size()), static_cast<unsigned char>(data.size() >> 8)});
    last_ = cmd;
    if (!carries)
        return;
    out.insert(out.end(), data.begin(), data.end());
    unsigned sum = damaged;
    for (unsigned char b : data)
        sum += b;
    out.insert(out.end(), {static_cast<unsigned char>(sum), static_cast<unsigned char>(sum >> 8)});
}

void SimCalc::Answer(unsigned char cmd, const Bytes& d)
{
    const std::string full = d.size() >= 6 ? std::string(d.begin() + 6, d.begin() + 6 + std::min<std::size_t>(d[5], d.size() - 6)) : "";
    const std::size_t slash = full.find('\\');
    switch (cmd) {
    case 0x06:    // VAR: a variable sent to the TI-92
    case 0xC9: {  // RTS: folder\name, its type (or attribute: 0x26 locked, 0x27 archived)
        pending_ = {full.substr(0, slash), full.substr(slash + 1), d[4], 0, {}};
        if (d[4] == 0x26 || d[4] == 0x27)
            pending_ = {pending_.folder, pending_.name, 0x0C, static_cast<unsigned char>(d[4] == 0x26 ? 1 : 3), {}};
        unsigned code;
        if (out_of_turn)
            return Send(0x09);
        Send(0x56);
        return Store(code) ? Send(0x36, {0x01, 0x00, static_cast<unsigned char>(code)}, true) : Send(0x09);
    }
    case 0x15:  // XDP: four zero bytes, then the variable as stored
        std::erase_if(vars, [&](const SimVar& v) { return v.folder == pending_.folder && v.name == pending_.name; });
        pending_.stored.assign(d.begin() + 4, d.end());
        vars.push_back(pending_);
        return Send(0x56);
    case 0x92:  // EOT
        return Send(0x56);
    case 0x09:  // CTS: the next data
        Send(0x56);
        return Send(0x15, outbox_[next_++], true);
    case 0x56:  // ACK: after the data, the next entry (TI-92 list) or the end
        if (last_ == 0x15)
            Send(next_ < outbox_.size() ? 0x78 : 0x92);
        return;
    case 0xA2: {  // REQ: the list, a folder's list, or a variable
        outbox_.clear();
        next_ = 0;
        // A list entry: the name in 8 bytes, the type, the attribute, the size in 4 bytes (the
        // TI-89 family reads 3), and on the Voyage 200 8 more bytes.
        auto entry = [&](Bytes& b, const std::string& name, unsigned char type, unsigned char attr, std::uint32_t size) {
            b.insert(b.end(), name.begin(), name.end());
            b.insert(b.end(), 8 - name.size(), 0);
            b.insert(b.end(), {type, attr});
            Put(b, size, model == LinkModel::v200 ? 12 : 4);
        };
        if (d[4] == 0x19 || d[4] == 0x1A) {
            const std::string folder = d[3] == 0x1B ? full : "";
            for (const std::string& f : Folders()) {
                if (model == LinkModel::ti92 || outbox_.empty())
                    outbox_.push_back(Bytes(4, 0));
                if (folder.empty() || f == folder)
                    entry(outbox_.back(), f, 0x1F, 0, 0);
                for (const SimVar& v : vars)
                    if (v.folder == f && (model == LinkModel::ti92 || f == folder)) {
                        if (model == LinkModel::ti92)
                            outbox_.push_back(Bytes(4, 0));
                        entry(outbox_.back(), v.name, v.type, v.attribute, v.stored.size());
                    }
            }
        } else {
            for (const SimVar& v : vars)
                if (v.folder == full.substr(0, slash) && v.name == full.substr(slash + 1))
                    outbox_.push_back(Bytes(4, 0)), outbox_.back().insert(outbox_.back().end(), v.stored.begin(), v.stored.end());
        }
        Send(0x56);
        if (outbox_.empty())  // no such variable
            return Send(0x36, {0x01, 0x00, 0x21}, true);
        Bytes var;
        Put(var, outbox_[0].size() - (d[4] == 0x19 || d[4] == 0x1A ? 0 : 4), 4);
        var.insert(var.end(), {d[4], 0});
        return Send(0x06, var, true);
    }
    }
}

void SimCalc::Release()
{
    if (in_flight_ || raw_out_.empty())
        return;
    out.insert(out.end(), raw_out_.front().begin(), raw_out_.front().end());
    raw_out_.pop_front();
    in_flight_ = true;
}

// Cuts a virtual packet into raw packets of the allotted size.
void SimCalc::SendVirtual(std::uint16_t type, const Bytes& data)
{
    Bytes v;
    Put(v, data.size() + (damaged && type == 0x000D), 4, true);
    Put(v, type, 2, true);
    v.insert(v.end(), data.begin(), data.end());
    for (std::size_t at = 0; at < v.size();) {
        const std::size_t n = std::min<std::size_t>(v.size() - at, raw_max_);
        Bytes raw;
        Put(raw, n, 4, true);
        raw.push_back(at + n == v.size() ? 4 : 3);
        raw.insert(raw.end(), v.begin() + at, v.begin() + at + n);
        raw_out_.push_back(raw);
        at += n;
    }
    Release();
}

void SimCalc::AnswerVirtual(std::uint16_t type, const Bytes& d)
{
    std::size_t at = 0;
    unsigned code;
    const Bytes ack = {0x00, 0x01};
    switch (type) {
    case 0x0001:  // ping: the mode is set
        return SendVirtual(0x0012, {});
    case 0x000B:  // RTS: folder, name, size, flag, then the type, archived, version and locked attributes
        pending_.folder = GetName(d, at);
        pending_.name = GetName(d, at);
        pending_ = {pending_.folder, pending_.name, d.at(at + 14), static_cast<unsigned char>(d.at(at + 19) ? 3 : d.at(at + 32) ? 1 : 0), {}};
        if (out_of_turn)
            return SendVirtual(0x000D, {});
        if (delays)
            SendVirtual(0xBB00, {0x00, 0x00, 0x27, 0x10});  // 10 ms
        return Store(code) ? SendVirtual(0xEE00, {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)})
                           : SendVirtual(0xAA00, ack);
    case 0x000D:  // the content, as stored
        std::erase_if(vars, [&](const SimVar& v) { return v.folder == pending_.folder && v.name == pending_.name; });
        pending_.stored = d;
        vars.push_back(pending_);
        if (delays)
            SendVirtual(0xBB00, {0x00, 0x00, 0x27, 0x10});
        return SendVirtual(0xAA00, ack);
    case 0x0009:  // the list: each folder, then its variables, then EOT
        for (const std::string& f : Folders())
            for (std::size_t i = 0; i <= vars.size(); ++i) {
                // The folder's own header first, then its variables'.
                const SimVar v = i == 0 ? SimVar{f, "", 0x1F, 0, {}} : vars[i - 1];
                if (v.folder != f)
                    continue;
                SendVirtual(0x000A, Header(f, v.name, {{0x02, 4, 0xF00C0000u | v.type}, {0x03, 1, v.attribute == 3}, {0x05, 1, 0},
                                                       {0x01, 4, static_cast<std::uint32_t>(v.stored.size())},
                                                       {0x41, 1, v.attribute == 1}, {0x42, 1, 0}}));
            }
        return SendVirtual(0xDD00, {});
    case 0x000C: {  // a variable asked for: its header, then its content
        const std::string folder = GetName(d, at), name = GetName(d, at);
        for (const SimVar& v : vars)
            if (v.folder == folder && v.name == name) {
                SendVirtual(0x000A, Header(folder, name, {{0x03, 1, v.attribute == 3}, {0x08, 4, 0}, {0x41, 1, v.attribute == 1}}));
                return SendVirtual(0x000D, v.stored);
            }
        return SendVirtual(0xEE00, {0x00, 0x04});
    }
    }
}
