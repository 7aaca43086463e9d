#pragma once

// The calculators of the family, one row each: everything the program knows that differs
// between them. The command line's -m, the help, the RAM note, the page's list of calculators
// and the files of each come from this table.

#include <cstdint>
#include <cstring>

// Texas Instruments' USB vendor ID, and the product ID of its TI-GRAPH LINK USB cable
// (SilverLink), through which a computer reaches every model of the family.
inline constexpr std::uint16_t kTiUsbVendor = 0x0451;
inline constexpr std::uint16_t kCableUsbProduct = 0xE001;

// The texts are arrays, not pointers, which a program that relocates itself would have to
// relocate at every start.
struct Model {
    char option[5];           // -m's value; "" for a model that takes another's files
    char signature[9];        // the 8 bytes that open its variable files
    char read_signature[9];   // a second signature its files are read by, or ""
    char extension[5];        // of a file holding one text variable
    char group_extension[5];  // of a group file
    char name[16];            // as Texas Instruments names it
    // On the cable: the machine ID of the calculator's packets, that of a computer's packets to
    // it (libticalcs2's dbus_pkt.h), and the bytes of each entry of its variable list; 0 for the
    // TI-92, which speaks the protocol's first form: each entry in a packet of its own, a
    // variable announced by VAR with no attribute.
    unsigned char link_id;
    unsigned char computer_id;
    unsigned char list_entry_size;
    // The RAM left to the user, in KB of 1,024 bytes, as Texas Instruments publishes it, and
    // whether it has an archive (flash) that keeps variables beside the RAM.
    unsigned ram_kb;
    bool archive;
    // The USB product ID of its own USB port, through which it links as well as through the
    // cable; 0 when it links through the cable alone.
    std::uint16_t own_port;
};

// The first is the default. The TI-89 Titanium takes the TI-89's files byte for byte, so it has
// no -m value of its own: the files of -m 89 are its files. The rows are numbered as the
// simulated calculator of the tests takes them.
inline constexpr Model kModels[] = {
    {"89", "**TI89**", "", ".89t", ".89g", "TI-89", 0x98, 0x08, 14, 188, true, 0},
    {"", "**TI89**", "", ".89t", ".89g", "TI-89 Titanium", 0x98, 0x08, 14, 188, true, 0xE004},
    {"92", "**TI92**", "", ".92t", ".92g", "TI-92", 0x89, 0x09, 0, 68, false, 0},
    {"92p", "**TI92P*", "", ".9xt", ".9xg", "TI-92 Plus", 0x88, 0x08, 14, 188, true, 0},
    // libtifiles2 reads a Voyage 200 file that opens with **V200** too.
    {"v200", "**TI92P*", "**V200**", ".v2t", ".v2g", "Voyage 200", 0x88, 0x08, 22, 188, true, 0},
};

// The model that -m names `option`, or null.
inline const Model* FindModel(const char* option)
{
    for (const Model& m : kModels)
        if (m.option[0] && !std::strcmp(m.option, option))
            return &m;
    return nullptr;
}

// The model whose -m option makes the files of `m`: itself, or the one whose files it takes.
inline const Model& FilesModel(const Model& m)
{
    for (const Model& o : kModels)
        if (!m.option[0] && o.option[0] && !std::strcmp(o.signature, m.signature) && !std::strcmp(o.extension, m.extension))
            return o;
    return m;
}

// The model whose own USB port is USB product `product`, or null.
inline const Model* ModelOnPort(std::uint16_t product)
{
    for (const Model& m : kModels)
        if (m.own_port && m.own_port == product)
            return &m;
    return nullptr;
}
