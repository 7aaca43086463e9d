// Fuzz target for the link protocols' state machines: the input is what the calculator answers.
//   byte 0   bits 0-2 the model (taken modulo 6: 5 is the TI-89 Titanium's own USB protocol),
//            bits 3-4 the operation (send, list, receive);
//   byte 1   the size of the pieces the answers arrive in (1 to 256 bytes);
//   the rest the calculator's bytes.
// The same answers fed in those pieces and a byte at a time, each write completing at once,
// must give the same bytes sent and the same end; whatever they are, the machine ends (at the
// latest when the calculator falls silent), a failure is one line with its code, the progress
// never passes the total, and a send succeeds only with every byte acknowledged.
#include "core/link/link.h"
#include "require.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const Model& kTitanium = kModels[1];
const unsigned char kText[] = {0x00, 0x01, 0x20, 'h', 'i', 0x00, 0xE0};
const Variable kVars[] = {{"main", "a", 0x0C, 0, kText}, {"docs", "", 0x1F, 0, {}}, {"docs", "b", 0x0C, 3, kText}};

// Runs the operation on the answers, fed `piece` bytes at a time; what it sent.
std::string Run(Link& link, const std::uint8_t* bytes, std::size_t size, std::size_t piece, LinkEntry (&entries)[8])
{
    const Model& model = kModels[bytes[0] % 8 % 5];
    const std::uint16_t product = bytes[0] % 8 % 6 == 5 ? kTitanium.own_port : kCableUsbProduct;
    const unsigned op = bytes[0] >> 3 & 3;
    std::uint64_t now = 5;
    op == 0 ? LinkStartSend(link, product, model, kVars, now)
    : op == 1 ? LinkStartList(link, product, model, entries, now) : LinkStartReceive(link, product, model, "main", "a", 0x0C, now);
    std::string sent;
    auto take = [&] {
        bool zero_length;
        for (std::span<const unsigned char> out; !(out = LinkTakeOutput(link, zero_length)).empty(); LinkWritten(link, now)) {
            Require(LinkMachineOf(link).progress <= LinkMachineOf(link).total, "the progress never passes the total");
            sent.append(reinterpret_cast<const char*>(out.data()), out.size());
        }
    };
    for (std::size_t i = 2; i < size; i += piece) {
        take();
        LinkFeed(link, {bytes + i, std::min(piece, size - i)}, ++now);
    }
    // The calculator falls silent: the pauses and its time to answer pass.
    for (int k = 0; k < 3; ++k) {
        take();
        LinkFeed(link, {}, now += kLinkTimeoutMs + 5000);
    }
    take();
    return sent;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 2 || (bytes[0] >> 3 & 3) == 3)
        return 0;
    const unsigned op = bytes[0] >> 3 & 3;
    auto a = std::make_unique<Link>(), b = std::make_unique<Link>();
    LinkEntry ea[8], eb[8];
    const bool same_sent = Run(*a, bytes, size, bytes[1] + 1u, ea) == Run(*b, bytes, size, 1, eb);
    Require(LinkStateOf(*a) != LinkState::running, "the machine ends once the calculator is silent");
    Require(same_sent && LinkStateOf(*a) == LinkStateOf(*b) && !std::strcmp(LinkFailure(*a), LinkFailure(*b)),
            "the same answers in other pieces give the same transfer");
    const LinkMachine& m = LinkMachineOf(*a);
    Require(op != 0 || m.acknowledged <= m.total, "no more acknowledged than sent");
    if (m.state == LinkState::failed)
        Require(m.failure[0] && !std::strchr(m.failure, '\n') && m.error != LinkError::none, "a failure is one line with its code");
    if (m.state == LinkState::done)
        Require(op != 0 || (m.acknowledged == m.total && m.progress == m.total), "a send succeeds only acknowledged whole");
    return 0;
}
