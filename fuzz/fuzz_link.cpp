// Fuzz target for the link protocol's state machine: the input is what the calculator answers.
//   byte 0   bits 0-2 the model (taken modulo 5), bits 3-4 the operation (send, list, receive);
//   byte 1   the size of the pieces the answers arrive in (1 to 256 bytes);
//   the rest the calculator's bytes.
// The same answers fed in those pieces and a byte at a time must give the same bytes sent and
// the same end; whatever they are, the machine ends (at the latest when the calculator falls
// silent), a failure is one line, and a send succeeds only with every byte acknowledged.
#include "core/link/dbus_link.h"

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

// Runs one operation on the answers `in`, fed `piece` bytes at a time; what it sent.
std::string Run(DbusLink& link, unsigned char op, LinkModel model, const unsigned char* in, std::size_t n,
                std::size_t piece, LinkEntry (&entries)[8])
{
    static const Variable vars[] = {
        {"main", "a", 0x0C, 0, kText}, {"docs", "", 0x1F, 0, {}}, {"docs", "b", 0x0C, 3, kText}};
    std::uint64_t now = 5;
    if (op == 0)
        DbusStartSend(link, model, vars, now);
    else if (op == 1)
        DbusStartList(link, model, entries, now);
    else
        DbusStartReceive(link, model, "main", "a", 0x0C, now);
    std::string sent;
    auto take = [&] {
        const std::span<const unsigned char> out = DbusTakeOutput(link, now);
        Require(out.size() <= sizeof link.out, "output within its buffer");
        sent.append(reinterpret_cast<const char*>(out.data()), out.size());
    };
    for (std::size_t i = 0; i < n; i += piece) {
        take();
        DbusFeed(link, {in + i, std::min(piece, n - i)}, ++now);
    }
    take();
    DbusFeed(link, {}, now + kLinkTimeoutMs);
    take();
    return sent;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 2)
        return 0;
    const LinkModel model = static_cast<LinkModel>(bytes[0] % 8 % 5);
    const unsigned char op = bytes[0] >> 3 & 3;
    if (op == 3)
        return 0;
    auto a = std::make_unique<DbusLink>(), b = std::make_unique<DbusLink>();
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
        Require(DbusListCount(*a) == DbusListCount(*b), "the same list");
        for (std::size_t i = 0; i < DbusListCount(*a); ++i)
            Require(!std::strcmp(ea[i].folder, eb[i].folder) && !std::strcmp(ea[i].name, eb[i].name) &&
                        ea[i].type == eb[i].type && ea[i].attribute == eb[i].attribute && ea[i].size == eb[i].size,
                    "the same list");
    }
    if (a->state == LinkState::done && op == 2) {
        const Variable va = DbusReceived(*a), vb = DbusReceived(*b);
        Require(va.data.size() == vb.data.size() && !std::memcmp(va.data.data(), vb.data.data(), va.data.size()),
                "the same variable received");
    }
    return 0;
}
