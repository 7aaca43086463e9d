// The link protocols against a simulated calculator, with TiLP's libticalcs2 as the check: it
// drives the same simulated calculator through a cable table of this test's own, which proves
// the simulation, and the bytes it sends are the bytes sorvel's library must send.
#include "core/link/link.h"
#include "core/text_data.h"
#include "sim_calc.h"

#define restrict __restrict  // TiLP's headers are written for C99
#include <ticables.h>
#include <ticalcs.h>
#include <tifiles.h>
#include <cmd68k.h>
#include <dbus_pkt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include <unistd.h>

namespace {

struct ModelRow {
    const Model& model;
    CalcModel tilp;
    const char* label;
    bool usb = false;                     // the TI-89 Titanium's own USB port and protocol
    void (*set)(SimCalc&) = [](SimCalc&) {};  // how the calculator behaves besides
};
const Model &kTi89 = kModels[0], &kTi89t = kModels[1], &kTi92 = kModels[2], &kTi92p = kModels[3], &kV200 = kModels[4];
const ModelRow kRows[] = {
    {kTi89, CALC_TI89, "TI89"}, {kTi89t, CALC_TI89T, "TI89T"}, {kTi92, CALC_TI92, "TI92"}, {kTi92p, CALC_TI92P, "TI92P"},
    {kV200, CALC_V200, "V200"}, {kTi89t, CALC_TI89T_USB, "TI89T_USB", true},
    // Acknowledges the data with a status word, 9.9 s after the last byte (the time runs from
    // the end of the write, not from when its bytes were taken).
    {kTi92p, CALC_TI92P, "TI92P_status_slow", false, [](SimCalc& s) { s.ack_status = 1, s.answer_delay = 9900; }},
    // Asks for time; allots 59 bytes, so that raw packets before the last are 64 bytes long;
    // acknowledges the data 9.9 s after the last byte.
    {kTi89t, CALC_TI89T_USB, "TI89T_USB_delays_allot59_slow", true,
     [](SimCalc& s) { s.delays = true, s.allot = 59, s.answer_delay = 9900; }},
    // Allots more than a raw packet holds: the computer sends 1,023 bytes at most.
    {kTi89t, CALC_TI89T_USB, "TI89T_USB_allot1024", true, [](SimCalc& s) { s.allot = 1024; }}};
constexpr int kRowCount = std::size(kRows);

SimCalc Sim(const ModelRow& m)
{
    SimCalc s = {&m.model, m.usb};
    m.set(s);
    return s;
}
std::uint16_t Product(const ModelRow& m) { return m.usb ? m.model.own_port : kCableUsbProduct; }

// A text variable as the calculator stores it: the big-endian size, then the cursor, the first
// line plain, the text and its end.
SimVar Var(const char* folder, const char* name, const std::string& text, unsigned char attribute = 0)
{
    Bytes d = {static_cast<unsigned char>((text.size() + 5) >> 8), static_cast<unsigned char>(text.size() + 5), 0x00, 0x01, 0x20};
    d.insert(d.end(), text.begin(), text.end());
    d.insert(d.end(), {0x00, 0xE0});
    return {folder, name, kTextType, attribute, d};
}
// What each send sends.
const std::pair<const char*, std::vector<SimVar>> kCases[] = {
    {"single", {Var("main", "notes", "Line one\x0D line two")}},
    {"empty", {Var("main", "empty", "")}},
    {"largest", {Var("main", "book", std::string(kMaxStoredText, 'a'))}},
    {"group", {Var("main", "a", "first"), Var("docs", "b", "second"), Var("docs", "c", "third", kArchived), Var("main", "d", "")}},
    // Over USB, its content (6 + 2,040 bytes) fills two raw packets of 1,023 bytes exactly.
    {"two_packets", {Var("main", "exact", std::string(2033, 'b'))}},
    // Over USB, its last raw packet is 64 bytes with its header: a zero-length write follows.
    {"zero_length", {Var("main", "zlp", std::string(3115, 'c'))}},
    // Of odd size (65,007 bytes): over USB its data go in a smaller buffer, asked for as 1,024.
    {"odd_large", {Var("main", "odd", std::string(65000, 'o'))}},
};
constexpr int kGroup = 3, kCaseCount = std::size(kCases);

using Image = std::unique_ptr<unsigned char, decltype(&std::free)>;

// libticalcs2's cable: its functions read and write the simulated calculator.
SimCalc* g_sim;
int CableSend(CableHandle*, uint8_t* data, uint32_t n)
{
    g_sim->zero_length_writes += n == 0;
    return g_sim->Take(data, n) ? 0 : 1;
}
int CableRecv(CableHandle*, uint8_t* data, uint32_t n)
{
    if (g_sim->out.size() < n)
        return 1;  // silence: the read times out
    std::copy_n(g_sim->out.begin(), n, data);
    g_sim->out.erase(g_sim->out.begin(), g_sim->out.begin() + n);
    return 0;
}
int CableCheck(CableHandle*, int* status) { return *status = g_sim->out.empty() ? 0 : 2, 0; }
int CableNothing(CableHandle*) { return 0; }
CableFncts g_cable = {CABLE_USB, "sim", "sim", "simulated calculator", 0, &CableNothing, &CableNothing,
                      &CableNothing, &CableNothing, &CableNothing, &CableNothing, &CableSend, &CableRecv, &CableCheck};

struct Tilp {
    CableHandle* cable = ticables_handle_new(CABLE_NUL, PORT_1);
    CalcHandle* calc;
    Tilp(const ModelRow& m, SimCalc& sim) : calc(ticalcs_handle_new(m.tilp))
    {
        g_sim = &sim;
        // The null cable's handle, given the kind of cable and the table above.
        cable->model = m.usb ? CABLE_USB : CABLE_SLV;
        cable->cable = &g_cable;
        ticalcs_cable_attach(calc, cable);
        // The table's machine IDs are libticalcs2's.
        const unsigned char id = m.tilp == CALC_TI92 ? DBUS_MID_TI92_PC : m.tilp == CALC_TI92P ? DBUS_MID_TI92p_PC
                               : m.tilp == CALC_V200 ? DBUS_MID_V200_PC : DBUS_MID_TI89_PC;
        EXPECT_TRUE(m.usb || (ti68k_handle_to_dbus_mid(calc) == m.model.computer_id && id == m.model.link_id));
        // As TiLP does before each operation: RDY on the cable; the buffer size and the mode over USB.
        EXPECT_EQ(ticalcs_calc_isready(calc), 0);
    }
    ~Tilp() { ticalcs_handle_del(calc), ticables_handle_del(cable); }
};

// A run of sorvel's link: the link at its end, and the time it waited with no answer on its way
// (the pauses it asked for).
struct Driven {
    std::unique_ptr<Link> link;
    std::uint64_t idle = 0;
};

// Starts sorvel's link with `start` and runs it against `sim` as the hardware would: each write
// completes once its bytes are out at the cable's 5 KB/s (libticables2's figure), the answer
// comes after the calculator's delay and is read at that rate one USB packet at a time (32
// bytes on the cable, 64 on the Titanium: link_usb1.cc reads max_ps), and the clock jumps when
// nothing moves, as far as LinkNext says. The progress moves as writes complete, a write at most.
Driven Drive(SimCalc& sim, const std::function<void(Link&)>& start)
{
    Driven r = {std::make_unique<Link>()};
    Link& link = *r.link;
    start(link);
    std::deque<std::pair<std::uint64_t, unsigned char>> in;  // each answer's byte and when it is out
    for (std::uint64_t now = 1000, progress = 0;;) {
        bool zero_length = false;
        if (const std::span<const unsigned char> out = LinkTakeOutput(link, zero_length); !out.empty()) {
            EXPECT_EQ(LinkMachineOf(link).progress, progress);  // counted once written
            now += (out.size() + 4) / 5;
            if (!sim.Take(out.data(), out.size()))
                LinkFault(link, LinkFaultKind::gone);
            sim.zero_length_writes += zero_length;
            LinkWritten(link, now);
            EXPECT_LE(LinkMachineOf(link).progress - progress, 1024u);
            progress = LinkMachineOf(link).progress;
            for (std::size_t i = 0; i < sim.out.size(); ++i)
                in.push_back({now + (i >= sim.held_ ? sim.answer_delay : 0), sim.out[i]});
            sim.out.clear(), sim.held_ = SIZE_MAX;
            continue;
        }
        if (LinkStateOf(link) != LinkState::running)
            return r;
        Bytes read;
        for (; !in.empty() && in.front().first <= now && read.size() < (sim.usb ? 64u : 32u); in.pop_front())
            read.push_back(in.front().second);
        const std::uint64_t wait = read.empty() ? std::min(LinkNext(link, now), in.empty() ? UINT64_MAX : in.front().first - now) : 0;
        r.idle += in.empty() ? wait : 0;
        now += wait + (read.size() + 4) / 5;
        LinkFeed(link, read, now);
    }
}

// sorvel sent the same bytes as libticalcs2, and as many zero-length writes.
void ExpectSameBytes(const SimCalc& sorvel, const SimCalc& tilp)
{
    EXPECT_TRUE(sorvel.log == tilp.log) << sorvel.log.size() << " bytes against " << tilp.log.size();
    EXPECT_EQ(sorvel.zero_length_writes, tilp.zero_length_writes);
}

class Send : public testing::TestWithParam<std::tuple<int, int>> {};

// Each model, each file: libticalcs2 and sorvel send the same bytes, and the calculator stores
// each variable as the file holds it, at the cable's rate, with the progress in steps of a
// write and the pauses libticalcs2 needs between variables over USB.
TEST_P(Send, SameBytesAsTilp)
{
    const auto [row, kase] = GetParam();
    const ModelRow& m = kRows[row];
    const std::vector<SimVar>& c = kCases[kase].second;
    // The variable file, and its entries as the core's reader gives them.
    std::vector<Variable> vars, entries;
    for (const SimVar& v : c) {
        vars.push_back({{}, {}, v.type, v.attribute, std::span(v.stored).subspan(2)});
        std::snprintf(vars.back().folder, 9, "%s", v.folder.c_str());
        std::snprintf(vars.back().name, 9, "%s", v.name.c_str());
    }
    std::uint32_t size = 0;
    ImageFailure failure;
    const Image image(Variables2GroupBuffer(vars, size, failure, m.model), &std::free);
    entries.resize(VarFileEntryCount({image.get(), size}));
    ASSERT_EQ(ParseVarFile({image.get(), size}, entries), nullptr);
    SimCalc tilp_sim = Sim(m), sorvel_sim = Sim(m);
    // A name of this process's own: two runs at once must not share the file.
    const std::string path = testing::TempDir() + "/link_test" + std::to_string(getpid()) + (c.size() > 1 ? m.model.group_extension : m.model.extension);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f && std::fwrite(image.get(), 1, size, f) == size && std::fclose(f) == 0);
    FileContent* content = tifiles_content_create_regular(m.tilp);
    ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0);
    std::remove(path.c_str());
    EXPECT_EQ(ticalcs_calc_send_var(Tilp(m, tilp_sim).calc, MODE_NORMAL, content), 0);
    tifiles_content_delete_regular(content);
    // The calculator holds each variable as the file does; archived but on the TI-92 (no archive).
    const auto held = [&](const SimVar& v) { return std::tuple(v.folder, v.name, v.type, &m.model == &kTi92 ? 0 : v.attribute, v.stored); };
    EXPECT_TRUE(std::ranges::is_permutation(tilp_sim.vars, c, {}, held, held));

    const Driven r = Drive(sorvel_sim, [&](Link& link) { LinkStartSend(link, Product(m), m.model, entries, 0); });
    const LinkMachine& done = LinkMachineOf(*r.link);
    EXPECT_EQ(done.state, LinkState::done) << done.failure;
    EXPECT_TRUE(done.acknowledged == done.total && done.progress == done.total);
    EXPECT_EQ(r.idle, (m.usb ? 50 : 0) * (c.size() - 1));
    ExpectSameBytes(sorvel_sim, tilp_sim);
}

INSTANTIATE_TEST_SUITE_P(Link, Send, testing::Combine(testing::Range(0, kRowCount), testing::Range(0, kCaseCount)), [](const auto& p) {
    return std::string(kRows[std::get<0>(p.param)].label) + "_" + kCases[std::get<1>(p.param)].first;
});

// The calculator holding the group's variables (docs\b made on it: a text of type 0x0B) and an
// archived one.
SimCalc Holding(const ModelRow& m)
{
    SimCalc sim = Sim(m);
    sim.vars = kCases[kGroup].second;
    sim.vars[1].type = 0x0B;
    // A name of 8 bytes, a size past 256.
    sim.vars.push_back(Var("main", "archived", std::string(300, 'k'), kArchived));
    return sim;
}

class Fetch : public testing::TestWithParam<int> {};

// The list, then the text made on the calculator (type 0x0B) received: libticalcs2's folders and
// variables (name, type, attribute, size) and the variable's data, the same bytes sent; on the
// cable, the pause libticalcs2 needs after a receive.
TEST_P(Fetch, ListAndReceiveAsTilp)
{
    const ModelRow& m = kRows[GetParam()];
    SimCalc tilp_sim = Holding(m), sorvel_sim = Holding(m);
    GNode *vars = nullptr, *apps = nullptr;
    ASSERT_EQ(ticalcs_calc_get_dirlist(Tilp(m, tilp_sim).calc, &vars, &apps), 0);
    std::set<std::tuple<std::string, std::string, int, int, unsigned>> tilp_list, sorvel_list;
    for (GNode* f = g_node_first_child(vars); f; f = g_node_next_sibling(f)) {
        const VarEntry* fe = static_cast<VarEntry*>(f->data);
        tilp_list.insert({"", fe->name, fe->type, fe->attr, 0});
        for (GNode* v = g_node_first_child(f); v; v = g_node_next_sibling(v)) {
            const VarEntry* ve = static_cast<VarEntry*>(v->data);
            tilp_list.insert({fe->name, ve->name, ve->type, ve->attr, ve->size});
        }
    }
    ticalcs_dirlist_destroy(&vars);
    ticalcs_dirlist_destroy(&apps);
    FileContent* content = tifiles_content_create_regular(m.tilp);
    // Its size as TiLP knows it from the list.
    const Bytes& second = kCases[kGroup].second[1].stored;
    VarEntry request = {.folder = "docs", .name = "b", .type = 0x0B, .size = static_cast<uint32_t>(second.size())};
    ASSERT_EQ(ticalcs_calc_recv_var(Tilp(m, tilp_sim).calc, MODE_NORMAL, content, &request), 0);
    const Bytes tilp_data(content->entries[0]->data, content->entries[0]->data + content->entries[0]->size);
    tifiles_content_delete_regular(content);
    EXPECT_EQ(tilp_data, second);

    LinkEntry entries[16];
    const Driven list = Drive(sorvel_sim, [&](Link& link) { LinkStartList(link, Product(m), m.model, entries, 0); });
    ASSERT_EQ(LinkStateOf(*list.link), LinkState::done) << LinkFailure(*list.link);
    for (const LinkEntry& e : std::span(entries, LinkListCount(*list.link)))
        sorvel_list.insert({e.folder, e.name, e.type, e.type == 0x1F ? 0 : e.attribute, e.type == 0x1F ? 0 : e.size});
    EXPECT_EQ(sorvel_list, tilp_list);
    EXPECT_EQ(sorvel_list.size(), 7u);  // main, docs and five variables
    const Driven receive = Drive(sorvel_sim, [&](Link& link) { LinkStartReceive(link, Product(m), m.model, "docs", "b", 0x0B, 0); });
    ASSERT_EQ(LinkStateOf(*receive.link), LinkState::done) << LinkFailure(*receive.link);
    EXPECT_EQ(receive.idle, m.usb ? 0u : 250u);
    ExpectSameBytes(sorvel_sim, tilp_sim);
    const Variable got = LinkReceived(*receive.link);
    EXPECT_EQ(std::string(got.folder) + "\\" + got.name + char(got.type), "docs\\b\x0B");
    EXPECT_TRUE(std::ranges::equal(got.data, std::span(second).subspan(2)));
}

INSTANTIATE_TEST_SUITE_P(Link, Fetch, testing::Range(0, kRowCount), [](const auto& p) { return std::string(kRows[p.param].label); });

// Each way the calculator fails: sorvel ends with its line and code (the TI-92 refuses without
// a reason), never with success, and counts no data the calculator did not acknowledge.
struct FailureRow {
    const char* label;
    void (*set)(SimCalc&);
    bool receive;
    const char* line;
    const char* codes[3];  // over USB, on the cable, to the TI-92
};
const FailureRow kFailures[] = {
    {"locked", [](SimCalc& s) { s.vars.push_back({"main", "notes", kTextType, kArchived, {}}); }, false, "refused main\\notes",
     {"locked", "locked_or_archived", "refused"}},
    {"name", [](SimCalc& s) { s.refusal = s.usb ? 0x000D : 0x25; }, false, "refused main\\notes", {"name", "name", "refused"}},
    {"memory", [](SimCalc& s) { s.refusal = s.usb ? 0x000C : 0x03; }, false, "refused main\\notes", {"memory", "memory", "refused"}},
    {"other_code", [](SimCalc& s) { s.refusal = 0x99; }, false, "refused main\\notes", {"refused", "refused", "refused"}},
    {"busy", [](SimCalc& s) { s.busy = true; }, false, "busy", {"busy", "busy", "busy"}},
    {"silent", [](SimCalc& s) { s.silent = true; }, false, "did not answer within 10 seconds", {"silent", "silent", "silent"}},
    {"gone", [](SimCalc& s) { s.gone_after = 30; }, false, "went away", {"gone", "gone", "gone"}},
    {"out_of_turn", [](SimCalc& s) { s.out_of_turn = true; }, false, "unexpected packet", {"unexpected", "unexpected", "unexpected"}},
    // The acknowledgement of the data lost.
    {"missing_ack", [](SimCalc& s) { s.missing_ack = s.usb ? 2 : 3; }, false, "did not answer", {"silent", "silent", "silent"}},
    {"missing", [](SimCalc&) {}, true, "has no variable main\\none", {"missing", "missing", "missing"}},
    {"damaged", [](SimCalc& s) { s.damaged = true, s.vars.push_back(Var("main", "none", "x")); }, true,
     "does not match", {"unexpected", "damaged", "damaged"}},
};

class Failure : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(Failure, EndsWithItsLineAndCode)
{
    const ModelRow& m = kRows[std::get<0>(GetParam())];
    const FailureRow& row = kFailures[std::get<1>(GetParam())];
    SimCalc sim = Sim(m);
    row.set(sim);
    const Variable entries[] = {{"main", "notes", kTextType, 0, std::span(kCases[0].second[0].stored).subspan(2)}};
    const Driven r = Drive(sim, [&](Link& link) {
        row.receive ? LinkStartReceive(link, Product(m), m.model, "main", "none", kTextType, 0) : LinkStartSend(link, Product(m), m.model, entries, 0);
    });
    const LinkMachine& failed = LinkMachineOf(*r.link);
    ASSERT_EQ(failed.state, LinkState::failed);
    EXPECT_TRUE(std::strstr(failed.failure, row.line) && !std::strchr(failed.failure, '\n')) << failed.failure;
    EXPECT_STREQ(LinkErrorName(failed.error), row.codes[m.usb ? 0 : &m.model == &kTi92 ? 2 : 1]) << failed.failure;
    EXPECT_EQ(failed.acknowledged, row.receive ? failed.acknowledged : 0);
}

INSTANTIATE_TEST_SUITE_P(Link, Failure, testing::Combine(testing::Range(0, kRowCount), testing::Range(0, int(std::size(kFailures)))),
                         [](const auto& p) { return std::string(kRows[std::get<0>(p.param)].label) + "_" + kFailures[std::get<1>(p.param)].label; });

// Over the cable the calculator says which it is, and wins over the model told: a TI-92 answers
// only its own machine ID, so the ready check asks again; the ID does not tell a TI-92 Plus from
// a Voyage 200 (the model told is kept), whose list entries then do not fit.
// The model told, the calculator's, what it says it is, its option, the failure's code.
const std::tuple<const Model&, const Model&, const char*, const char*, const char*> kFound[] = {
    {kTi89, kTi92, "TI-92", "92", ""},
    {kTi92, kTi92p, "TI-92 Plus or Voyage 200", "92p", ""},
    {kV200, kTi89, "TI-89 or TI-89 Titanium", "89", ""},
    {kTi92p, kV200, "TI-92 Plus or Voyage 200", "92p", "model"},
    {kV200, kTi92p, "TI-92 Plus or Voyage 200", "v200", "model"},
};

TEST(Link, CalculatorSaysWhichItIs)
{
    for (const auto& [told, is, found, option, code] : kFound) {
        SimCalc sim = Holding({is, CALC_NONE, ""});
        LinkEntry entries[16];
        const Driven r = Drive(sim, [&](Link& link) { LinkStartList(link, kCableUsbProduct, told, entries, 0); });
        EXPECT_STREQ(LinkErrorName(LinkErrorOf(*r.link)), code) << LinkFailure(*r.link);
        EXPECT_EQ(LinkListCount(*r.link), *code ? 0u : 7u);
        char names[kLinkFoundSize];
        EXPECT_STREQ(LinkFound(*r.link, names), found);
        EXPECT_STREQ(LinkFoundOption(*r.link), option);
    }
    // A TI-92's stale acknowledgement answers the ready check: the TI-89's own replies then come
    // from another machine ID.
    SimCalc sim = {&kTi89, false};
    sim.out = {0x89, 0x56, 0, 0};
    LinkEntry entries[16];
    const Driven r = Drive(sim, [&](Link& link) { LinkStartList(link, kCableUsbProduct, kTi89, entries, 0); });
    EXPECT_TRUE(std::strstr(LinkFailure(*r.link), "machine ID 0x98")) << LinkFailure(*r.link);
    EXPECT_EQ(LinkWriteLimit(65536), 10000u + 32768u);  // 10 s and the bytes at 2 KB/s
}

} // namespace

// libticalcs2's directory listing leaks a little of its own, through glib, which sorvel does
// not use.
extern "C" const char* __lsan_default_suppressions() { return "leak:g_malloc0\n"; }
