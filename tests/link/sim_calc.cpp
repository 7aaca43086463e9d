#include "sim_calc.h"

#include <algorithm>
#include <cstring>

namespace {

bool CarriesData(unsigned char cmd)
{
    return cmd == 0x06 || cmd == 0x15 || cmd == 0x36 || cmd == 0xA2 || cmd == 0xC9;
}

void Le(Bytes& b, std::uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        b.push_back(v >> 8 * i & 0xFF);
}

// One listing entry: the name in 8 bytes, the type, the attribute and the size (3 bytes and a
// zero on the TI-89 family, 8 more zeros on the Voyage 200; 4 bytes on the TI-92).
void Entry(Bytes& b, LinkModel model, const std::string& name, unsigned char type,
           unsigned char attribute, std::uint32_t size)
{
    for (std::size_t i = 0; i < 8; ++i)
        b.push_back(i < name.size() ? name[i] : 0);
    b.push_back(type);
    b.push_back(attribute);
    Le(b, size, 4);
    if (model == LinkModel::v200)
        b.insert(b.end(), 8, 0);
}

} // namespace

unsigned char CalcId(LinkModel model)
{
    switch (model) {
    case LinkModel::ti92: return 0x89;
    case LinkModel::ti92p:
    case LinkModel::v200: return 0x88;
    default: return 0x98;
    }
}

bool SimCalc::Take(const unsigned char* data, std::size_t n)
{
    for (std::size_t i = 0; i < n && !gone; ++i) {
        gone = log.size() >= gone_after;
        if (gone)
            break;
        log.push_back(data[i]);
        in_.push_back(data[i]);
        if (usb) {
            if (in_.size() < 5 || in_.size() < 5u + (in_[0] << 24 | in_[1] << 16 | in_[2] << 8 | in_[3]))
                continue;
            const Bytes raw = std::move(in_);
            in_.clear();
            if (!silent)
                TakeRaw(raw[4], Bytes(raw.begin() + 5, raw.end()));
            continue;
        }
        if (in_.size() < 4)
            continue;
        const std::size_t length = in_[2] | in_[3] << 8;
        if (CarriesData(in_[1]) && in_.size() < 4 + length + 2)
            continue;
        const Bytes packet = std::move(in_);
        in_.clear();
        unsigned sum = 0;
        for (std::size_t k = 4; k + 2 < packet.size(); ++k)
            sum += packet[k];
        if (CarriesData(packet[1]) && (packet[4 + length] | packet[5 + length] << 8) != (sum & 0xFFFF))
            Send(0x5A);  // ERR: the packet arrived damaged
        else if (!silent)
            Answer(packet[1], packet.data() + 4, CarriesData(packet[1]) ? length : 0);
    }
    return !gone;
}

void SimCalc::Send(unsigned char cmd, const Bytes& data, bool carries)
{
    const unsigned char head[] = {CalcId(model), cmd, static_cast<unsigned char>(data.size()),
                                  static_cast<unsigned char>(data.size() >> 8)};
    out.insert(out.end(), head, head + 4);
    last_ = cmd;
    if (!carries)
        return;
    out.insert(out.end(), data.begin(), data.end());
    unsigned sum = damaged;
    for (unsigned char b : data)
        sum += b;
    out.push_back(sum & 0xFF);
    out.push_back(sum >> 8 & 0xFF);
}

void SimCalc::Answer(unsigned char cmd, const unsigned char* d, std::size_t n)
{
    const bool is92 = model == LinkModel::ti92;
    auto name_at = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(d + 6), std::min<std::size_t>(d[5], n - 6)).substr(at); };
    switch (cmd) {
    case 0x06:    // VAR, as the TI-92 is sent a variable
    case 0xC9: {  // RTS: folder\name
        const std::string full = name_at(0);
        const std::size_t slash = full.find('\\');
        pending_ = {slash == std::string::npos ? "main" : full.substr(0, slash),
                    slash == std::string::npos ? full : full.substr(slash + 1), d[4], 0, {}};
        if (pending_.type == 0x26 || pending_.type == 0x27) {
            // The attribute travels in the type's place; the variables sent here are texts.
            pending_.attribute = pending_.type == 0x26 ? 1 : 3;
            pending_.type = 0x0C;
        }
        unsigned char code = refusal;
        for (const SimVar& v : vars)
            if (v.folder == pending_.folder && v.name == pending_.name && v.attribute)
                code = 0x1E;
        if (out_of_turn)
            return Send(0x09);
        Send(0x56);
        return code ? Send(0x36, {0x01, 0x00, code}, true) : Send(0x09);
    }
    case 0x15:  // XDP: four zero bytes, then the variable as stored
        std::erase_if(vars, [&](const SimVar& v) { return v.folder == pending_.folder && v.name == pending_.name; });
        pending_.stored.assign(d + 4, d + n);
        vars.push_back(pending_);
        return Send(0x56);
    case 0x92:  // EOT
        return Send(0x56);
    case 0x09:  // CTS: the next data
        Send(0x56);
        return Send(0x15, outbox_[next_++], true);
    case 0x56:  // ACK: after the data, the next entry or the end
        if (last_ == 0x15)
            return next_ < outbox_.size() ? Send(0x78) : Send(0x92);
        return;
    case 0xA2: {  // REQ
        outbox_.clear();
        next_ = 0;
        std::vector<std::string> folders = {"main"};
        for (const SimVar& v : vars)
            if (std::find(folders.begin(), folders.end(), v.folder) == folders.end())
                folders.push_back(v.folder);
        auto count = [&](const std::string& f) { return std::count_if(vars.begin(), vars.end(), [&](const SimVar& v) { return v.folder == f; }); };
        const bool list = d[4] == (is92 ? 0x19 : 0x1A);
        if (list && is92) {
            for (const std::string& f : folders) {
                outbox_.push_back(Bytes(4, 0));
                Entry(outbox_.back(), model, f, 0x1F, 0, count(f));
                for (const SimVar& v : vars)
                    if (v.folder == f) {
                        outbox_.push_back(Bytes(4, 0));
                        Entry(outbox_.back(), model, v.name, v.type, v.attribute, v.stored.size());
                    }
            }
        } else if (list) {
            Bytes b(4, 0);
            const std::string folder = d[3] == 0x1B ? name_at(0) : "";
            if (!folder.empty())
                Entry(b, model, folder, 0x1F, 0, count(folder));
            for (const std::string& f : folders)
                if (folder.empty())
                    Entry(b, model, f, 0x1F, 0, count(f));
            for (const SimVar& v : vars)
                if (!folder.empty() && v.folder == folder)
                    Entry(b, model, v.name, v.type, v.attribute, v.stored.size());
            outbox_.push_back(b);
        } else {
            const std::string full = name_at(0);
            const std::size_t slash = full.find('\\');
            for (const SimVar& v : vars)
                if (v.folder == full.substr(0, slash) && v.name == full.substr(slash + 1))
                    outbox_.push_back(Bytes(4, 0)), outbox_.back().insert(outbox_.back().end(), v.stored.begin(), v.stored.end());
            Send(0x56);
            if (outbox_.empty())
                return Send(0x36, {0x01, 0x00, 0x21}, true);
            Bytes var;
            Le(var, outbox_[0].size() - 4, 4);
            var.push_back(d[4]);
            var.push_back(0);
            return Send(0x06, var, true);
        }
        Send(0x56);
        Bytes var;
        Le(var, outbox_[0].size(), 4);
        var.insert(var.end(), {d[4], 0});
        return Send(0x06, var, true);
    }
    }
}

namespace {

void Be(Bytes& b, std::uint32_t v, int n)
{
    for (int i = n - 1; i >= 0; --i)
        b.push_back(v >> 8 * i & 0xFF);
}

// A name as the USB protocol gives it: its length, its bytes and a NUL.
void UsbName(Bytes& b, const std::string& name)
{
    b.push_back(name.size());
    if (!name.empty())
        b.insert(b.end(), name.c_str(), name.c_str() + name.size() + 1);
}

std::string GetUsbName(const Bytes& d, std::size_t& at)
{
    const std::size_t n = d.at(at++);
    const std::string name(d.begin() + at, d.begin() + at + n);
    at += n ? n + 1 : 0;
    return name;
}

void Attribute(Bytes& b, std::uint16_t id, std::uint32_t value, int size)
{
    Be(b, id, 2);
    b.push_back(0);
    Be(b, size, 2);
    Be(b, value, size);
}

} // namespace

void SimCalc::Release()
{
    if (in_flight_ || raw_out_.empty())
        return;
    out.insert(out.end(), raw_out_.front().begin(), raw_out_.front().end());
    raw_out_.pop_front();
    in_flight_ = true;
}

void SimCalc::SendVirtual(std::uint16_t type, const Bytes& data)
{
    Bytes v;
    Be(v, data.size() + (damaged && type == 0x000D), 4);
    Be(v, type, 2);
    v.insert(v.end(), data.begin(), data.end());
    for (std::size_t at = 0; at < v.size() || at == 0;) {
        const std::size_t n = std::min<std::size_t>(v.size() - at, raw_max_);
        Bytes raw;
        Be(raw, n, 4);
        raw.push_back(at + n == v.size() ? 4 : 3);
        raw.insert(raw.end(), v.begin() + at, v.begin() + at + n);
        raw_out_.push_back(raw);
        at += n;
    }
    Release();
}

void SimCalc::TakeRaw(unsigned char type, const Bytes& d)
{
    auto raw = [&](unsigned char t, const Bytes& data) {
        Bytes r;
        Be(r, data.size(), 4);
        r.push_back(t);
        r.insert(r.end(), data.begin(), data.end());
        out.insert(out.end(), r.begin(), r.end());
    };
    if (type == 1) {  // buffer size request: allot it, 1,023 bytes at most
        raw_max_ = std::min<std::uint32_t>(d[0] << 24 | d[1] << 16 | d[2] << 8 | d[3], 1023);
        Bytes b;
        Be(b, raw_max_, 4);
        return raw(2, b);
    }
    if (type == 5) {
        in_flight_ = false;
        return Release();
    }
    raw(5, {0xE0, 0x00});
    vin_.insert(vin_.end(), d.begin(), d.end());
    if (type == 3)
        return;
    const Bytes v = std::move(vin_);
    vin_.clear();
    AnswerVirtual(v[4] << 8 | v[5], Bytes(v.begin() + 6, v.end()));
}

void SimCalc::AnswerVirtual(std::uint16_t type, const Bytes& d)
{
    std::vector<std::string> folders = {"main"};
    for (const SimVar& v : vars)
        if (std::find(folders.begin(), folders.end(), v.folder) == folders.end())
            folders.push_back(v.folder);
    std::size_t at = 0;
    switch (type) {
    case 0x0001:  // ping: the mode is set
        return SendVirtual(0x0012, {});
    case 0x000B: {  // RTS: folder, name, size, flag, then the type, archived, version and locked attributes
        pending_.folder = GetUsbName(d, at);
        pending_.name = GetUsbName(d, at);
        at += 7;
        pending_.type = d.at(at + 7);
        pending_.attribute = d.at(at + 12) ? 3 : d.at(at + 25) ? 1 : 0;
        std::uint16_t code = refusal;
        for (const SimVar& v : vars)
            if (v.folder == pending_.folder && v.name == pending_.name && v.attribute)
                code = 0x0012;
        if (out_of_turn)
            return SendVirtual(0x000D, {});
        if (delays)
            SendVirtual(0xBB00, {0x00, 0x00, 0x27, 0x10});  // 10 ms
        return code ? SendVirtual(0xEE00, {static_cast<unsigned char>(code >> 8), static_cast<unsigned char>(code)})
                    : SendVirtual(0xAA00, {0x00, 0x01});
    }
    case 0x000D:  // the variable's content, as stored
        std::erase_if(vars, [&](const SimVar& v) { return v.folder == pending_.folder && v.name == pending_.name; });
        pending_.stored = d;
        vars.push_back(pending_);
        if (delays)
            SendVirtual(0xBB00, {0x00, 0x00, 0x27, 0x10});
        return SendVirtual(0xAA00, {0x00, 0x01});
    case 0x0009: {  // the list: each folder, then its variables, then EOT
        auto header = [&](const std::string& f, const std::string& n, unsigned char t, unsigned char attr, std::uint32_t size) {
            Bytes h;
            UsbName(h, f);
            UsbName(h, n);
            Be(h, 6, 2);
            Attribute(h, 0x02, 0xF00C0000u | t, 4);
            Attribute(h, 0x03, attr == 3, 1);
            Attribute(h, 0x05, 0, 1);
            Attribute(h, 0x01, size, 4);
            Attribute(h, 0x41, attr == 1, 1);
            Attribute(h, 0x42, 0, 1);
            SendVirtual(0x000A, h);
        };
        for (const std::string& f : folders) {
            header(f, "", 0x1F, 0, 0);
            for (const SimVar& v : vars)
                if (v.folder == f)
                    header(f, v.name, v.type, v.attribute, v.stored.size());
        }
        return SendVirtual(0xDD00, {});
    }
    case 0x000C: {  // a variable asked for: its header, then its content
        const std::string folder = GetUsbName(d, at), name = GetUsbName(d, at);
        for (const SimVar& v : vars)
            if (v.folder == folder && v.name == name) {
                Bytes h;
                UsbName(h, folder);
                UsbName(h, name);
                Be(h, 3, 2);
                Attribute(h, 0x03, v.attribute == 3, 1);
                Attribute(h, 0x08, 0, 4);
                Attribute(h, 0x41, v.attribute == 1, 1);
                SendVirtual(0x000A, h);
                return SendVirtual(0x000D, v.stored);
            }
        return SendVirtual(0xEE00, {0x00, 0x04});
    }
    }
}
