// The CPU cost of sending the largest text variable (65,512 bytes of data) to a TI-89 over the
// classic link protocol and to a TI-89 Titanium over its own USB protocol, the calculator's
// answers scripted: the protocol's work alone, without the cable, each write said complete at
// once.
#include "core/link/dbus_link.h"
#include "core/link/dusb_link.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace {

// The calculator's answer over USB to the raw packet `p`: a buffer of 1,023 bytes, an
// acknowledgement, and after a whole virtual packet the mode or leave to go on.
std::vector<unsigned char> UsbAnswer(std::span<const unsigned char> p, unsigned& vtype)
{
    static const unsigned char alloc[] = {0, 0, 0, 4, 2, 0, 0, 0x03, 0xFF}, ack[] = {0, 0, 0, 2, 5, 0xE0, 0};
    static const unsigned char mode[] = {0, 0, 0, 6, 4, 0, 0, 0, 0, 0x00, 0x12},
                               data_ack[] = {0, 0, 0, 8, 4, 0, 0, 0, 2, 0xAA, 0x00, 0, 1};
    if (p[4] == 1)
        return {alloc, alloc + sizeof alloc};
    if (p[4] == 5)
        return {};
    std::vector<unsigned char> a(ack, ack + sizeof ack);
    if (p[4] == 3 && vtype == 0)
        vtype = p[9] << 8 | p[10];
    if (p[4] == 4) {
        const unsigned type = vtype ? vtype : p[9] << 8 | p[10];
        vtype = 0;
        if (type == 0x0001)
            a.insert(a.end(), mode, mode + sizeof mode);
        else if (type == 0x000B || type == 0x000D)
            a.insert(a.end(), data_ack, data_ack + sizeof data_ack);
    }
    return a;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::vector<unsigned char> data(65512, 'a');
    data[0] = 0x00, data[1] = 0x01, data[2] = 0x20, data[65510] = 0x00, data[65511] = 0xE0;
    const Variable v = {"main", "book", 0x0C, 0, data};
    // The calculator's answers: ACK to the ready check, ACK and CTS to RTS, ACK to the data, ACK
    // to EOT.
    const unsigned char ack_cts[] = {0x98, 0x56, 0, 0, 0x98, 0x09, 0, 0}, ack[] = {0x98, 0x56, 0, 0};
    const std::span<const unsigned char> answers[] = {ack, ack_cts, ack, ack};
    auto link = std::make_unique<DbusLink>();
    std::size_t sent = 0, writes = 0;
    const std::clock_t c0 = std::clock();
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < runs; ++r) {
        DbusStartSend(*link, kModels[0], {&v, 1}, 0);
        for (const std::span<const unsigned char> answer : answers) {
            for (std::span<const unsigned char> out; !(out = DbusTakeOutput(*link)).empty(); ++writes) {
                sent += out.size();
                DbusWritten(*link, 1);
            }
            DbusFeed(*link, answer, 2);
        }
        sent += DbusTakeOutput(*link).size();
        const LinkMachine& m = link->machine;
        if (m.state != LinkState::done || m.acknowledged != m.total || m.progress != m.total)
            return std::fprintf(stderr, "transfer did not end well: %s\n", m.failure), 1;
    }
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC / runs;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / runs;
    std::printf("TI-89, classic protocol: %d sends of a 65,512-byte text, %zu bytes in %zu writes each: "
                "%.1f us CPU, %.1f us wall per send\n",
                runs, sent / runs, writes / runs, cpu * 1e6, wall * 1e6);

    auto usb = std::make_unique<DusbLink>();
    std::size_t usb_sent = 0, raw = 0;
    const std::clock_t c1 = std::clock();
    for (int r = 0; r < runs; ++r) {
        DusbStartSend(*usb, {&v, 1}, 0);
        unsigned vtype = 0;
        while (usb->machine.state == LinkState::running) {
            std::vector<unsigned char> answers;
            for (std::span<const unsigned char> p; !(p = DusbTakeOutput(*usb)).empty(); ++raw) {
                usb_sent += p.size();
                DusbWritten(*usb, 1);
                const std::vector<unsigned char> a = UsbAnswer(p, vtype);
                answers.insert(answers.end(), a.begin(), a.end());
            }
            if (answers.empty())
                break;
            DusbFeed(*usb, answers, 2);
        }
        const LinkMachine& m = usb->machine;
        if (m.state != LinkState::done || m.acknowledged != m.total || m.progress != m.total)
            return std::fprintf(stderr, "USB transfer did not end well: %s\n", m.failure), 1;
    }
    const double usb_cpu = double(std::clock() - c1) / CLOCKS_PER_SEC / runs;
    std::printf("TI-89 Titanium, USB protocol: %zu bytes in %zu raw packets each: %.1f us CPU per send\n",
                usb_sent / runs, raw / runs, usb_cpu * 1e6);
    return 0;
}
