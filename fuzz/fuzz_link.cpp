// Fuzz target for the link protocol's state machine: the input is what the calculator answers.
//   byte 0   bits 0-2 the model (taken modulo 6: 5 is the TI-89 Titanium's own USB protocol),
//            bits 3-4 the operation (send, list, receive);
//   byte 1   the size of the pieces the answers arrive in (1 to 256 bytes);
//   the rest the calculator's bytes.
// The same answers fed in those pieces and a byte at a time must give the same bytes sent and
// the same end; whatever they are, the machine ends (at the latest when the calculator falls
// silent), a failure is one line, and a send succeeds only with every byte acknowledged.
#include "core/link/dbus_link.h"
#include "core/link/dusb_link.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void Require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

const unsigned char kText[] = {0x00, 0x01, 0x20, 'h', 'i', 0x00, 0xE0};

// Both protocols' machines behind one set of calls.
void Start(DbusLink& l, LinkModel m, unsigned char op, std::span<const Variable> vars, std::span<LinkEntry> e)
{
    op == 0 ? DbusStartSend(l, m, vars, 5) : op == 1 ? DbusStartList(l, m, e, 5) : DbusStartReceive(l, m, "main", "a", 0x0C, 5);
}
void Start(DusbLink& l, LinkModel, unsigned char op, std::span<const Variable> vars, std::span<LinkEntry> e)
{
    op == 0 ? DusbStartSend(l, vars, 5) : op == 1 ? DusbStartList(l, e, 5) : DusbStartReceive(l, "main", "a", 0x0C, 5);
}
std::span<const unsigned char> Take(DbusLink& l, std::uint64_t now) { return DbusTakeOutput(l, now); }
std::span<const unsigned char> Take(DusbLink& l, std::uint64_t now) { return DusbTakeOutput(l, now); }
void Feed(DbusLink& l, std::span<const unsigned char> in, std::uint64_t now) { DbusFeed(l, in, now); }
void Feed(DusbLink& l, std::span<const unsigned char> in, std::uint64_t now) { DusbFeed(l, in, now); }
std::size_t Count(const DbusLink& l) { return DbusListCount(l); }
std::size_t Count(const DusbLink& l) { return DusbListCount(l); }
Variable Received(const DbusLink& l) { return DbusReceived(l); }
Variable Received(const DusbLink& l) { return DusbReceived(l); }

// Runs one operation on the answers `in`, fed `piece` bytes at a time; what it sent.
template <class L>
std::string Run(L& link, unsigned char op, LinkModel model, const unsigned char* in, std::size_t n,
                std::size_t piece, LinkEntry (&entries)[8])
{
    static const Variable vars[] = {
        {"main", "a", 0x0C, 0, kText}, {"docs", "", 0x1F, 0, {}}, {"docs", "b", 0x0C, 3, kText}};
    std::uint64_t now = 5;
    Start(link, model, op, vars, entries);
    std::string sent;
    auto take = [&] {
        for (std::span<const unsigned char> out; !(out = Take(link, now)).empty();) {
            Require(out.size() <= sizeof link.out, "output within its buffer");
            sent.append(reinterpret_cast<const char*>(out.data()), out.size());
        }
    };
    for (std::size_t i = 0; i < n; i += piece) {
        take();
        Feed(link, {in + i, std::min(piece, n - i)}, ++now);
    }
    take();
    Feed(link, {}, now + kLinkTimeoutMs + 5000);
    take();
    return sent;
}

// Runs the operation on the answers in pieces and a byte at a time, and checks both.
template <class L>
void Check(unsigned char op, LinkModel model, const std::uint8_t* bytes, std::size_t size)
{
    auto a = std::make_unique<L>(), b = std::make_unique<L>();
    LinkEntry ea[8], eb[8];
    const std::string sent_a = Run(*a, op, model, bytes + 2, size - 2, bytes[1] + 1u, ea);
    const std::string sent_b = Run(*b, op, model, bytes + 2, size - 2, 1, eb);

    Require(a->state != LinkState::running, "the machine ends once the calculator is silent");
    Require(sent_a == sent_b && a->state == b->state && !std::strcmp(a->failure, b->failure),
            "the same answers in other pieces give the same transfer");
    Require(a->acknowledged <= a->total || op != 0, "no more acknowledged than sent");
    if (a->state == LinkState::failed)
        Require(a->failure[0] && !std::strchr(a->failure, '\n'), "a failure is one line");
    if (a->state == LinkState::done && op == 0)
        Require(a->acknowledged == a->total, "a send succeeds only acknowledged whole");
    if (a->state == LinkState::done && op == 1) {
        Require(Count(*a) == Count(*b), "the same list");
        for (std::size_t i = 0; i < Count(*a); ++i)
            Require(!std::strcmp(ea[i].folder, eb[i].folder) && !std::strcmp(ea[i].name, eb[i].name) &&
                        ea[i].type == eb[i].type && ea[i].attribute == eb[i].attribute && ea[i].size == eb[i].size,
                    "the same list");
    }
    if (a->state == LinkState::done && op == 2) {
        const Variable va = Received(*a), vb = Received(*b);
        Require(va.data.size() == vb.data.size() && !std::memcmp(va.data.data(), vb.data.data(), va.data.size()),
                "the same variable received");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 2)
        return 0;
    const unsigned kind = bytes[0] % 8 % 6;
    const unsigned char op = bytes[0] >> 3 & 3;
    if (op == 3)
        return 0;
    if (kind == 5)
        Check<DusbLink>(op, LinkModel::ti89t, bytes, size);
    else
        Check<DbusLink>(op, static_cast<LinkModel>(kind), bytes, size);
    return 0;
}
