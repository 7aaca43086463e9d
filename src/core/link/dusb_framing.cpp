#include "core/link/dusb_framing.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Raw packet types.
constexpr unsigned char kBufSizeRequest = 1, kBufSizeAlloc = 2, kVirtData = 3, kVirtDataLast = 4, kRawAck = 5;
constexpr unsigned char kAckData[] = {0xE0, 0x00};

void PutRaw(DusbFraming& f, LinkMachine& m, unsigned char type, const unsigned char* data, std::size_t n)
{
    if (f.out_taken == f.out_size)
        f.out_taken = f.out_size = 0;
    if (f.out_size + 5 + n > sizeof f.out)
        return LinkFailAhead(m);
    unsigned char* const at = f.out + f.out_size;
    PutBE32(at, n);
    at[4] = type;
    std::memcpy(at + 5, data, n);
    f.out_size += 5 + n;
}

void PutSize(DusbFraming& f, LinkMachine& m, unsigned char type, std::uint32_t size)
{
    unsigned char b[4];
    PutBE32(b, size);
    PutRaw(f, m, type, b, 4);
}

// Sends the next raw packet of the virtual packet in vout: after the first, the last is the one
// shorter than the buffer (an empty one when the data fill those before exactly), as
// libticalcs2 sends them.
void SendNextRaw(DusbFraming& f, LinkMachine& m)
{
    const std::size_t left = f.vout_size - f.vout_sent, n = std::min<std::size_t>(left, f.raw_max);
    f.vout_last = f.vout_sent == 0 ? left <= f.raw_max : left < f.raw_max;
    if (f.vout_counts)  // the data after the virtual packet's 6-byte header
        f.data_queued += std::max<std::size_t>(f.vout_sent + n, 6) - std::max<std::size_t>(f.vout_sent, 6);
    PutRaw(f, m, f.vout_last ? kVirtDataLast : kVirtData, f.vout + f.vout_sent, n);
    f.vout_sent += n;
}

// Reacts to a whole raw packet of `type` with `n` bytes of data `d`.
DusbEvent TakeRaw(DusbFraming& f, LinkMachine& m, unsigned char type, const unsigned char* d, std::size_t n)
{
    if (f.vout_size) {  // a virtual packet going out: each raw packet acknowledged in turn
        if (type == kBufSizeRequest && n == 4) {  // the calculator asks for another size
            f.raw_max = std::min<std::uint32_t>(GetBE32(d), kDusbMaxRaw);
            PutSize(f, m, kBufSizeAlloc, f.raw_max);
            return DusbEvent::none;
        }
        if (type != kRawAck || n != 2 || d[0] != kAckData[0] || d[1] != kAckData[1])
            LinkFail(m, LinkError::unexpected,
                     "the calculator sent an unexpected packet (raw type %u) while this computer waited for an acknowledgement", type);
        else if (!f.vout_last)
            SendNextRaw(f, m);
        else {
            f.vout_size = 0;
            return DusbEvent::sent;
        }
        return DusbEvent::none;
    }
    if (f.awaiting_buffer) {
        f.awaiting_buffer = false;
        f.raw_max = n == 4 ? std::min<std::uint32_t>(GetBE32(d), kDusbMaxRaw) : 0;
        if (type != kBufSizeAlloc || n != 4)
            LinkFail(m, LinkError::unexpected,
                     "the calculator sent an unexpected packet (raw type %u) while this computer waited for a buffer size", type);
        else if (f.raw_max < 7)
            LinkFail(m, LinkError::unexpected, "the calculator allotted a buffer of %u bytes, too small to use", f.raw_max);
        else
            return DusbEvent::allotted;
        return DusbEvent::none;
    }
    if (type != kVirtData && type != kVirtDataLast) {
        LinkFail(m, LinkError::unexpected,
                 "the calculator sent an unexpected packet (raw type %u) while this computer waited for its answer", type);
        return DusbEvent::none;
    }
    if (f.vin_size + n > sizeof f.vin) {
        LinkFail(m, LinkError::unexpected, "the calculator sent a packet larger than any it sends");
        return DusbEvent::none;
    }
    std::memcpy(f.vin + f.vin_size, d, n);
    f.vin_size += n;
    PutRaw(f, m, kRawAck, kAckData, 2);
    if (type == kVirtData)
        return DusbEvent::none;
    f.vin_whole = std::exchange(f.vin_size, 0);
    if (f.vin_whole >= 6 && GetBE32(f.vin) == f.vin_whole - 6)
        return DusbEvent::received;
    LinkFail(m, LinkError::unexpected, "the calculator sent a packet whose size does not match its data");
    return DusbEvent::none;
}

} // namespace

void DusbFramingReset(DusbFraming& f)
{
    f.raw_max = 0;
    f.awaiting_buffer = f.vout_last = f.vout_counts = false;
    f.vout_size = f.vout_sent = f.in_size = f.vin_size = f.vin_whole = f.out_size = f.out_taken = 0;
    f.data_queued = 0;
}

void DusbAskBuffer(DusbFraming& f, LinkMachine& m, std::uint32_t size)
{
    f.awaiting_buffer = true;
    PutSize(f, m, kBufSizeRequest, std::min(size, kDusbAskedBuffer));
}

void DusbSendVirtual(DusbFraming& f, LinkMachine& m, std::uint16_t type, std::size_t n, bool counts)
{
    PutBE32(f.vout, n);
    PutBE16(f.vout + 4, type);
    f.vout_size = n + 6;
    f.vout_sent = 0;
    f.vout_counts = counts;
    SendNextRaw(f, m);
}

std::span<const unsigned char> DusbTakeRaw(DusbFraming& f, bool& zero_length_after, std::uint64_t& data_bytes)
{
    zero_length_after = false;
    data_bytes = 0;
    if (f.out_taken == f.out_size)
        return {};
    const unsigned char* const at = f.out + f.out_taken;
    const std::size_t n = 5 + GetBE32(at);
    f.out_taken += n;
    if (at[4] == kVirtData || at[4] == kVirtDataLast)
        data_bytes = std::exchange(f.data_queued, 0);
    zero_length_after = at[4] == kVirtDataLast && f.vout_size - 6 > 1076 && n % 64 == 0;
    return {at, n};
}

DusbEvent DusbTakeBytes(DusbFraming& f, LinkMachine& m, std::span<const unsigned char> bytes, std::size_t& at,
                        std::uint64_t now)
{
    while (m.state == LinkState::running) {
        std::size_t need = 5;
        if (f.in_size >= 5) {
            const std::uint32_t size = GetBE32(f.in);
            if (size > kDusbMaxRaw) {
                LinkFail(m, LinkError::unexpected, "the calculator sent a raw packet of %u bytes, more than any it sends", size);
                break;
            }
            need += size;
        }
        if (f.in_size < need) {
            if (!LinkGather(m, f.in, f.in_size, need, bytes, at, now))
                break;
            continue;
        }
        f.in_size = 0;
        if (const DusbEvent e = TakeRaw(f, m, f.in[4], f.in + 5, need - 5); e != DusbEvent::none)
            return e;
    }
    return DusbEvent::none;
}
