#pragma once

// What both link protocols share, written once: one transfer's state and
// operation, its failure (one line, and a code the page chooses its next step by), the time
// the calculator has to answer, the pauses it needs, the variables sent or the entries listed,
// and the progress. Each protocol holds a LinkMachine and moves it on.

#include "core/var_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

enum class LinkState : unsigned char { running, done, failed };
enum class LinkOperation : unsigned char { send, list, receive };

// Why a transfer failed. LinkErrorName gives each a short stable identifier.
enum class LinkError : unsigned char {
    none, silent, gone, stalled, cable, cancelled, busy, memory, too_large, locked, archived,
    locked_or_archived, name, missing, damaged, unexpected, model, too_many, refused
};
const char* LinkErrorName(LinkError error);

// What the front end saw end a transfer on the device's side, numbered as the page's glue takes
// them: the device went away; a write did not complete within LinkWriteLimit (the calculator
// stopped taking bytes); an endpoint halted again after its halt was cleared; babble; the user
// cancelled.
enum class LinkFaultKind : unsigned char { gone = 1, write_expired, halted_again, babble, cancelled };

// How long the calculator may stay silent, from the end of the last write or the last byte in,
// before the transfer is given up: longer than the calculator takes to store 64 KB in its
// archive, short enough for a person waiting.
inline constexpr std::uint32_t kLinkTimeoutMs = 10000;

// How long a write of `size` bytes may take before the front end gives it up: the calculator's
// time to answer plus the bytes at 2 KB/s (the cable takes about 5 KB/s).
inline constexpr std::uint64_t LinkWriteLimit(std::uint64_t size) { return kLinkTimeoutMs + (size + 1) / 2; }

// A variable's attribute (kArchived is the third).
inline constexpr unsigned char kLockedAttribute = 1, kProtectedAttribute = 2;
inline constexpr unsigned char kFolderType = 0x1F;

// One entry of the calculator's list: a folder (type 0x1F, no folder of its own) or a variable.
struct LinkEntry {
    char folder[9];
    char name[9];
    unsigned char type;
    unsigned char attribute;
    std::uint32_t size;
};

// One calculator refusal code, what it means, and the words for it after "refused x: ".
struct LinkRefusal {
    std::uint16_t code;
    LinkError error;
    const char* why;
};

struct LinkMachine {
    const Model* model;  // as the front end said, then as the calculator said (`found`)
    bool found;
    LinkOperation operation;
    LinkState state;
    LinkError error;
    bool writing;                  // a write was taken and has not completed: no silence counted
    std::uint32_t answer_within;   // the silence allowed, in ms
    std::uint64_t deadline;        // when the silence ends the transfer
    std::uint32_t pause_ms;        // a pause to start once the writes pending have gone
    std::uint64_t resume_at;       // when the pause running ends; 0 for none
    std::uint64_t acknowledged;    // data bytes the calculator confirmed
    std::uint64_t total;           // data bytes to transfer, when known
    std::uint64_t progress;        // data bytes written, counted as the writes complete
    std::uint64_t progress_taken;  // data bytes in the write not yet complete
    std::span<const Variable> variables;  // sent (folders among them skipped)
    std::size_t current;
    std::span<LinkEntry> entries;  // listed
    std::size_t entry_count;
    char folder[9], name[9];       // the variable asked for
    unsigned char request_type;
    char failure[128];             // the line saying why, once failed
};

// Starts `operation` afresh with the calculator of `model`, given the time to answer.
void LinkBegin(LinkMachine& m, const Model& model, LinkOperation operation, std::uint64_t now);

// Moves `current` to the first variable from `from` on that is not a folder; false when none is
// left.
bool LinkNextVariable(LinkMachine& m, std::size_t from);
inline const Variable& LinkCurrent(const LinkMachine& m) { return m.variables[m.current]; }

// folder\name (the name alone without a folder) of the variable sent or asked for.
void LinkWhat(const LinkMachine& m, char (&out)[18]);

// Ends the transfer as failed with `error` and the line `format` makes.
__attribute__((format(printf, 3, 4))) void LinkFail(LinkMachine& m, LinkError error, const char* format, ...);

// Ends the transfer as failed with the calculator's refusal `code` as `refusals` name it (its
// code in `digits` hex digits when they do not): on a receive, a name it does not know means
// it has no such variable.
void LinkRefuse(LinkMachine& m, std::span<const LinkRefusal> refusals, unsigned code, int digits);

// Ends a running transfer for what the front end saw.
void LinkFaultSeen(LinkMachine& m, LinkFaultKind fault);

// Adds a listed entry, leaving out the calculator's own statistics variables; fails when the
// list has no room left.
void LinkAddEntry(LinkMachine& m, const LinkEntry& e);

// A write holding `data_bytes` of the variables' data was taken.
inline void LinkTaken(LinkMachine& m, std::uint64_t data_bytes)
{
    m.writing = true;
    m.progress_taken += data_bytes;
}

// The write taken completed at `now`: the calculator's time to answer starts, and a pause
// waiting for it when no other write is queued (`more`).
void LinkWrittenAt(LinkMachine& m, std::uint64_t now, bool more);

// A byte came in at `now`.
inline void LinkHeard(LinkMachine& m, std::uint64_t now) { m.deadline = now + m.answer_within; }

// Moves the bytes after `at` in `bytes` into packet buffer `in` (holding `in_size`) until it holds
// `need`, heard at `now`; false when none was left to move.
bool LinkGather(LinkMachine& m, unsigned char* in, std::size_t& in_size, std::size_t need,
                std::span<const unsigned char> bytes, std::size_t& at, std::uint64_t now);

// Pauses the transfer for `ms` from the end of the writes queued (`queued`), or from `now`.
void LinkPause(LinkMachine& m, std::uint32_t ms, bool queued, std::uint64_t now);

// True once, when the pause running is over at `now`: the protocol then goes on.
bool LinkPauseOver(LinkMachine& m, std::uint64_t now);

// Fails, and true, when the calculator sends bytes during a pause (it is waiting too).
bool LinkSpokeInPause(LinkMachine& m, bool bytes);

// True when the calculator has been silent past its time at `now` (no write in flight, no pause).
bool LinkSilent(const LinkMachine& m, std::uint64_t now);

// Fails with the silent calculator's line.
void LinkFailSilent(LinkMachine& m);

// Fails because the calculator's answers called for more output than was taken: it answered
// what it had not been sent.
void LinkFailAhead(LinkMachine& m);

// In how many ms the machine next wants to be called with no input (at most 100).
std::uint64_t LinkNextCall(const LinkMachine& m, std::uint64_t now);
