#pragma once

// What both link protocols share: the models, the end of a transfer, the calculator's list and
// how long it may stay silent.

#include <cstdint>

enum class LinkModel : unsigned char { ti89, ti89t, ti92, ti92p, v200 };

// How long the calculator may stay silent, from the moment the bytes sent were taken or a
// byte last came in, before the transfer is given up: longer than the calculator takes to
// store 64 KB in its archive, short enough for a person waiting.
inline constexpr std::uint64_t kLinkTimeoutMs = 10000;

// The lines both protocols end with when the calculator falls silent (with the seconds waited)
// and when it or its cable goes away.
inline constexpr char kSilentLine[] =
    "the calculator did not answer within %u seconds (is it on, on its home screen, and the cable in?)";
inline constexpr char kGoneLine[] = "the calculator or its cable went away";

enum class LinkState : unsigned char { running, done, failed };

// One entry of the calculator's list: a folder (type 0x1F, no folder of its own) or a variable.
struct LinkEntry {
    char folder[9];
    char name[9];
    unsigned char type;
    unsigned char attribute;
    std::uint32_t size;
};

