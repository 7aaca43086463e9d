#pragma once

// What a front end does to reach the calculator over USB, apart from the protocols: open the
// device by its vendor and product, take configuration 1 and claim interface 0, find its bulk
// endpoints and their packet size in the configuration descriptor, and read whole packets
// (a multiple of that size) so that none is split between two reads.

#include <cstdint>
#include <span>

inline constexpr std::uint16_t kTiVendor = 0x0451;
inline constexpr std::uint16_t kSilverLinkProduct = 0xE001;  // the classic link protocol
inline constexpr std::uint16_t kTitaniumProduct = 0xE004;    // the TI-89 Titanium's own port
inline constexpr std::uint8_t kUsbConfiguration = 1;
inline constexpr std::uint8_t kUsbInterface = 0;

struct UsbEndpoints {
    std::uint8_t in;   // address, 0x80 set; 0 when none was found
    std::uint8_t out;  // address; 0 when none was found
    std::uint16_t max_packet;  // of the IN endpoint
};

// The first bulk IN and bulk OUT endpoints of interface 0 in configuration descriptor
// `descriptor` (as a device returns it whole), reading nothing outside it.
UsbEndpoints FindBulkEndpoints(std::span<const unsigned char> descriptor);

// The size of the next read: a whole number of the IN endpoint's packets, at least `wanted`.
inline std::uint32_t WholePacketRead(const UsbEndpoints& e, std::uint32_t wanted)
{
    const std::uint32_t p = e.max_packet ? e.max_packet : 64;
    return (wanted + p - 1) / p * p + (wanted == 0 ? p : 0);
}
