#pragma once

// A simulated calculator of the family, on the classic link protocol or (the TI-89 Titanium)
// its own USB protocol: it holds folders and variables in memory and answers as the calculator
// does, as strict as one: it ignores a packet addressed to another machine, stops answering a
// computer that does not acknowledge what it sent (libticalcs2 acknowledges each packet, in
// calc_9x.cc and dusb_vpkt.cc), and over USB sends each raw packet only once the last was
// acknowledged. Its options stand for what real calculators do.

#include "core/link/link_machine.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<unsigned char>;

struct SimVar {
    std::string folder, name;
    unsigned char type, attribute;  // a text made on the calculator is 0x0B (TiLP's types89.h: TEXT), one sent 0x0C
    Bytes stored;                   // as the calculator holds it: the big-endian size, then the data
};

struct SimCalc {
    const Model* model;  // the machine it is, whatever the computer was told
    bool usb;         // on the TI-89 Titanium's own port
    std::vector<SimVar> vars;
    // Asks for time before it acknowledges over USB (DUSB_VPKT_DELAY_ACK, which dusb_cmd.cc
    // waits out).
    unsigned delays = 0;
    // Refuses every variable sent with this code, 0 for none: SKP's third data byte on the cable
    // (cmd68k.cc's err_code; dbus_pkt.h's DBUS_REJ_*), the error packet's over USB (dusb_cmd.cc's
    // usb_errors).
    unsigned refusal = 0;
    // Not at its home screen: on the cable its ready check's ACK says "not ready" (calc_9x.cc's
    // is_ready); over USB it refuses each request with 0x0034 (error.cc: "set your calculator
    // to HOME screen").
    unsigned busy = 0;
    // The status word in the length field of its ACK after the data (calc_9x.cc's send_var reads
    // it with RECV_ACK(handle, &status)).
    unsigned ack_status = 0;
    // Drops the n-th acknowledgement it owes (1 the first; 0 none): ACK on the cable, the data's
    // acknowledgement (0xAA00) over USB; a packet lost, which libticalcs2's RECV_ACK and
    // dusb_cmd_r_data_ack wait for until their time-out.
    unsigned missing_ack = 0;
    // The buffer it allots over USB whatever was asked, 0 for the size asked (1,023 at most):
    // libticalcs2's dusb_recv_buf_size_alloc takes whatever size the calculator gives.
    unsigned allot = 0;
    // How long it takes to answer, in ms from the end of the computer's write (the link test's
    // driver holds its answer back that long): storing a large variable in the archive.
    unsigned answer_delay = 0;
    bool silent = false;      // answers nothing: off, busy in a program, or done with a computer out of turn
    unsigned damaged = 0;     // its answers' checksums or sizes are off by one
    unsigned out_of_turn = 0; // answers a variable sent with the wrong packet
    std::size_t gone_after = SIZE_MAX;  // bytes taken before the device goes away

    Bytes log, out;  // every byte the computer sent, and what the calculator sends
    int zero_length_writes = 0;

    // Takes bytes from the computer; false once the device is gone.
    bool Take(const unsigned char* data, std::size_t n);

    // The simulation's own state: the packet coming in, the USB virtual packet coming in; the
    // classic protocol's data still to send and the next; the USB raw packet's size; the
    // variable being sent; where in `out` the data's acknowledgement starts (answer_delay).
    Bytes in_, vin_;
    std::vector<Bytes> outbox_;
    std::size_t next_ = 0, held_ = SIZE_MAX;
    std::uint32_t raw_max_ = 0;
    SimVar pending_;
    bool owed_ack_ = false;   // the computer has yet to acknowledge what was sent
    unsigned acks_ = 0;       // acknowledgements sent or dropped
    std::deque<std::pair<Bytes, bool>> queue_;  // what waits for the computer's acknowledgement,
                                                // and whether each is to be acknowledged
};
