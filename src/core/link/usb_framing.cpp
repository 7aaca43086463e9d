#include "core/link/usb_framing.h"

UsbEndpoints FindBulkEndpoints(std::span<const unsigned char> d)
{
    constexpr unsigned char kInterface = 4, kEndpoint = 5, kBulk = 2;
    UsbEndpoints e = {0, 0, 0};
    bool in_interface0 = false;
    for (std::size_t at = 0; at + 2 <= d.size() && d[at] >= 2 && d[at] <= d.size() - at; at += d[at]) {
        const unsigned char length = d[at], kind = d[at + 1];
        if (kind == kInterface && length >= 9)
            in_interface0 = d[at + 2] == 0;
        if (kind != kEndpoint || length < 7 || !in_interface0 || (d[at + 3] & 3) != kBulk)
            continue;
        const unsigned char address = d[at + 2];
        if (address & 0x80) {
            if (!e.in) {
                e.in = address;
                e.max_packet = d[at + 4] | (d[at + 5] & 0x07) << 8;
            }
        } else if (!e.out) {
            e.out = address;
        }
    }
    return e;
}
