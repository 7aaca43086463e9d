// The CPU cost of sending the largest text variable (65,512 bytes of data) to a TI-89 over the
// classic link protocol, the calculator's answers scripted: the protocol's work alone, without
// the cable.
#include "core/link/dbus_link.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::vector<unsigned char> data(65512, 'a');
    data[0] = 0x00, data[1] = 0x01, data[2] = 0x20, data[65510] = 0x00, data[65511] = 0xE0;
    const Variable v = {"main", "book", 0x0C, 0, data};
    // The calculator's answers: ACK and CTS to RTS, ACK to the data, ACK to EOT.
    const unsigned char ack_cts[] = {0x98, 0x56, 0, 0, 0x98, 0x09, 0, 0}, ack[] = {0x98, 0x56, 0, 0};
    auto link = std::make_unique<DbusLink>();
    std::size_t sent = 0, packets = 0;
    const std::clock_t c0 = std::clock();
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < runs; ++r) {
        DbusStartSend(*link, LinkModel::ti89, {&v, 1}, 0);
        for (const std::span<const unsigned char> answer : {std::span<const unsigned char>(ack_cts), std::span<const unsigned char>(ack), std::span<const unsigned char>(ack)}) {
            sent += DbusTakeOutput(*link, 1).size();
            ++packets;
            DbusFeed(*link, answer, 2);
        }
        sent += DbusTakeOutput(*link, 3).size();
        if (link->state != LinkState::done || link->acknowledged != link->total)
            return std::fprintf(stderr, "transfer did not end well: %s\n", link->failure), 1;
    }
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC / runs;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / runs;
    std::printf("%d sends of a 65,512-byte text, %zu bytes each: %.1f us CPU, %.1f us wall per send\n",
                runs, sent / runs, cpu * 1e6, wall * 1e6);
    return 0;
}
