// The link protocols against a simulated calculator, with TiLP's libticalcs2 as the check: it
// drives the same simulated calculator through a cable table of this test's own, which proves
// the simulation, and the bytes it sends are the bytes sorvel's library must send.
#include "core/link/link.h"
#include "core/link/usb_framing.h"
#include "core/text_data.h"
#include "sim_calc.h"

#define restrict __restrict  // TiLP's headers are written for C99
#include <ticables.h>
#include <ticalcs.h>
#include <tifiles.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include <unistd.h>

namespace {

struct ModelRow {
    LinkModel link;
    CalcModel tilp;
    const Model& file;
    const char* label;
    bool usb = false;     // the TI-89 Titanium's own USB port and protocol
    bool delays = false;  // the calculator asks for time before it acknowledges
};
const ModelRow kRows[] = {
    {LinkModel::ti89, CALC_TI89, kModels[0], "TI89"}, {LinkModel::ti89t, CALC_TI89T, kModels[0], "TI89T"},
    {LinkModel::ti92, CALC_TI92, kModels[1], "TI92"}, {LinkModel::ti92p, CALC_TI92P, kModels[2], "TI92P"},
    {LinkModel::v200, CALC_V200, kModels[3], "V200"},
    {LinkModel::ti89t, CALC_TI89T_USB, kModels[0], "TI89T_USB", true},
    {LinkModel::ti89t, CALC_TI89T_USB, kModels[0], "TI89T_USB_delays", true, true}};
constexpr int kRowCount = std::size(kRows);

SimCalc Sim(const ModelRow& m) { return {m.link, m.usb, m.delays}; }

Bytes Text(const std::string& text)  // a text variable's data
{
    Bytes d(std::begin(kDataOpening), std::end(kDataOpening));
    d.insert(d.end(), text.begin(), text.end());
    d.insert(d.end(), std::begin(kDataClose), std::end(kDataClose));
    return d;
}
Bytes Stored(const Bytes& data)  // as the calculator stores it: the big-endian size, the data
{
    Bytes s = {static_cast<unsigned char>(data.size() >> 8), static_cast<unsigned char>(data.size())};
    s.insert(s.end(), data.begin(), data.end());
    return s;
}

struct Item {
    const char* folder;
    const char* name;
    unsigned char attribute;
    Bytes data;
};
// What each send sends.
const std::pair<const char*, std::vector<Item>> kCases[] = {
    {"single", {{"main", "notes", 0, Text("Line one\x0D line two")}}},
    {"empty", {{"main", "empty", 0, Text("")}}},
    {"largest", {{"main", "book", 0, Text(std::string(kMaxStoredText, 'a'))}}},
    {"archived", {{"main", "kept", kArchived, Text("in the archive")}}},
    {"group", {{"main", "a", 0, Text("first")}, {"docs", "b", 0, Text("second")},
               {"docs", "c", 0, Text("third")}, {"main", "d", 0, Text("")}}},
    // Over USB, its content (6 + 2,040 bytes) fills two raw packets of 1,023 bytes exactly.
    {"two_packets", {{"main", "exact", 0, Text(std::string(2033, 'b'))}}},
    // Over USB, its last raw packet is 64 bytes with its header: a zero-length write follows.
    {"zero_length", {{"main", "zlp", 0, Text(std::string(3115, 'c'))}}},
};

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
        if (m.usb)  // as TiLP does before each operation: the buffer size and the mode
            EXPECT_EQ(ticalcs_calc_isready(calc), 0);
    }
    ~Tilp() { ticalcs_handle_del(calc), ticables_handle_del(cable); }
};

// Starts sorvel's link with `start` and runs it against `sim` until it ends; a silent
// calculator makes the clock jump.
std::unique_ptr<Link> Drive(SimCalc& sim, const std::function<void(Link&)>& start)
{
    auto link = std::make_unique<Link>();
    start(*link);
    for (std::uint64_t now = 1000;;) {
        bool zero_length = false;
        for (std::span<const unsigned char> out; !(out = LinkTakeOutput(*link, now, zero_length)).empty();
             sim.zero_length_writes += zero_length)
            if (!sim.Take(out.data(), out.size()) && LinkStateOf(*link) == LinkState::running)
                LinkDeviceGone(*link);
        if (LinkStateOf(*link) != LinkState::running)
            return link;
        const Bytes in = std::exchange(sim.out, {});
        now += in.empty() ? kLinkTimeoutMs : 1;
        for (unsigned char b : in)  // a byte at a time: every way of splitting an answer
            LinkFeed(*link, {&b, 1}, now);
        if (in.empty())
            LinkFeed(*link, {}, now);
    }
}

// sorvel sent the same bytes as libticalcs2, and as many zero-length writes.
void ExpectSameBytes(const SimCalc& sorvel, const SimCalc& tilp)
{
    EXPECT_TRUE(sorvel.log == tilp.log) << sorvel.log.size() << " bytes against " << tilp.log.size();
    EXPECT_EQ(sorvel.zero_length_writes, tilp.zero_length_writes);
}

// The calculator holds each variable as the file does; archived but on the TI-92 (no archive).
void ExpectStored(const SimCalc& sim, const std::vector<Item>& c)
{
    std::set<std::tuple<std::string, std::string, int, int, Bytes>> want, got;
    for (const Item& it : c)
        want.insert({it.folder, it.name, kTextType, sim.model == LinkModel::ti92 ? 0 : it.attribute, Stored(it.data)});
    for (const SimVar& v : sim.vars)
        got.insert({v.folder, v.name, v.type, v.attribute, v.stored});
    EXPECT_TRUE(got == want);
}

class Send : public testing::TestWithParam<std::tuple<int, int>> {};

// Each model, each file: libticalcs2 and sorvel send the same bytes, and the calculator stores
// each variable as the file holds it; over USB, also when the calculator asks for time.
TEST_P(Send, SameBytesAsTilp)
{
    const auto [row, kase] = GetParam();
    const ModelRow& m = kRows[row];
    const std::vector<Item>& c = kCases[kase].second;
    // The variable file, and its entries as the core's reader gives them.
    std::vector<Variable> vars, entries;
    for (const Item& it : c) {
        vars.push_back({{}, {}, kTextType, it.attribute, it.data});
        std::snprintf(vars.back().folder, 9, "%s", it.folder);
        std::snprintf(vars.back().name, 9, "%s", it.name);
    }
    std::uint32_t size = 0;
    ImageFailure failure;
    const Image image(Variables2GroupBuffer(vars, size, failure, m.file), &std::free);
    entries.resize(VarFileEntryCount({image.get(), size}));
    ASSERT_EQ(ParseVarFile({image.get(), size}, entries), nullptr);
    SimCalc tilp_sim = Sim(m), sorvel_sim = Sim(m);
    // A name of this process's own: two runs at once must not share the file.
    const std::string path = testing::TempDir() + "/link_test" + std::to_string(getpid()) + (c.size() > 1 ? m.file.group_extension : m.file.extension);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f && std::fwrite(image.get(), 1, size, f) == size && std::fclose(f) == 0);
    FileContent* content = tifiles_content_create_regular(m.tilp);
    ASSERT_EQ(tifiles_file_read_regular(path.c_str(), content), 0);
    std::remove(path.c_str());
    EXPECT_EQ(ticalcs_calc_send_var(Tilp(m, tilp_sim).calc, MODE_NORMAL, content), 0);
    tifiles_content_delete_regular(content);
    ExpectStored(tilp_sim, c);

    const auto link = Drive(sorvel_sim, [&](Link& l) { LinkStartSend(l, m.link, m.usb, entries, 0); });
    EXPECT_EQ(LinkStateOf(*link), LinkState::done) << LinkFailure(*link);
    EXPECT_EQ(LinkAcknowledged(*link), LinkTotal(*link));
    ExpectStored(sorvel_sim, c);
    ExpectSameBytes(sorvel_sim, tilp_sim);
    EXPECT_EQ(tilp_sim.zero_length_writes, m.usb && kase == 6);
}

INSTANTIATE_TEST_SUITE_P(Link, Send, testing::Combine(testing::Range(0, kRowCount), testing::Range(0, 7)), [](const auto& p) {
    return std::string(kRows[std::get<0>(p.param)].label) + "_" + kCases[std::get<1>(p.param)].first;
});

// The calculator holding the group's variables and an archived one.
SimCalc Holding(const ModelRow& m)
{
    SimCalc sim = Sim(m);
    for (const Item& it : kCases[4].second)
        sim.vars.push_back({it.folder, it.name, kTextType, it.attribute, Stored(it.data)});
    // A name of 8 bytes, a size past 256.
    sim.vars.push_back({"main", "archived", kTextType, kArchived, Stored(Text(std::string(300, 'k')))});
    return sim;
}

class Fetch : public testing::TestWithParam<int> {};

// The list, then a variable received: libticalcs2's folders and variables (name, type,
// attribute, size) and the variable's data, the same bytes sent.
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
    VarEntry request = {.folder = "docs", .name = "b", .type = kTextType, .size = static_cast<uint32_t>(Stored(Text("second")).size())};
    ASSERT_EQ(ticalcs_calc_recv_var(Tilp(m, tilp_sim).calc, MODE_NORMAL, content, &request), 0);
    const Bytes tilp_data(content->entries[0]->data, content->entries[0]->data + content->entries[0]->size);
    tifiles_content_delete_regular(content);
    EXPECT_EQ(tilp_data, Stored(Text("second")));

    LinkEntry entries[16];
    const auto list = Drive(sorvel_sim, [&](Link& l) { LinkStartList(l, m.link, m.usb, entries, 0); });
    ASSERT_EQ(LinkStateOf(*list), LinkState::done) << LinkFailure(*list);
    for (const LinkEntry& e : std::span(entries, LinkListCount(*list)))
        sorvel_list.insert({e.folder, e.name, e.type, e.type == 0x1F ? 0 : e.attribute, e.type == 0x1F ? 0 : e.size});
    EXPECT_EQ(sorvel_list, tilp_list);
    EXPECT_EQ(sorvel_list.size(), 7u);  // main, docs and five variables
    const auto receive = Drive(sorvel_sim, [&](Link& l) { LinkStartReceive(l, m.link, m.usb, "docs", "b", kTextType, 0); });
    ASSERT_EQ(LinkStateOf(*receive), LinkState::done) << LinkFailure(*receive);
    ExpectSameBytes(sorvel_sim, tilp_sim);
    // The core's writer turns the variable into a file its reader takes back.
    const Variable got = LinkReceived(*receive);
    std::uint32_t size = 0;
    ImageFailure failure;
    const Image file(DataBuffer2OTHBuffer(got.name, got.data, size, failure, m.file, got.folder), &std::free);
    Variable back[1];
    ASSERT_EQ(ParseVarFile({file.get(), size}, back), nullptr);
    EXPECT_EQ(std::string(back[0].folder) + "\\" + back[0].name, "docs\\b");
    EXPECT_EQ(Stored(Bytes(back[0].data.begin(), back[0].data.end())), tilp_data);
}

INSTANTIATE_TEST_SUITE_P(Link, Fetch, testing::Range(0, kRowCount), [](const auto& p) { return std::string(kRows[p.param].label); });

// Each way the calculator fails: sorvel ends with its line (and why, where the protocol tells),
// never with success, and counts no data the calculator did not acknowledge.
struct FailureRow {
    const char* label;
    void (*set)(SimCalc&);
    bool receive;
    const char* line;
    const char* why;                  // where the protocol tells why: not on the TI-92
    const char* cable_why = nullptr;  // on the cable, where it tells otherwise
};
const FailureRow kFailures[] = {
    {"locked", [](SimCalc& s) { s.vars.push_back({"main", "notes", kTextType, kArchived, {}}); }, false, "refused main\\notes", "locked"},
    {"name", [](SimCalc& s) { s.refusal = s.usb ? 0x000D : 0x25; }, false, "refused main\\notes", "does not take that name"},
    // The cable's protocol names no code for it: the line gives the code.
    {"memory", [](SimCalc& s) { s.refusal = s.usb ? 0x000C : 0x99; }, false, "refused main\\notes", "memory is full", "(its code 0x99)"},
    {"silent", [](SimCalc& s) { s.silent = true; }, false, "did not answer within 10 seconds", ""},
    {"gone", [](SimCalc& s) { s.gone_after = 30; }, false, "went away", ""},
    {"out_of_turn", [](SimCalc& s) { s.out_of_turn = true; }, false, "unexpected packet", ""},
    {"missing", [](SimCalc&) {}, true, "has no variable main\\none", ""},
    {"damaged", [](SimCalc& s) { s.damaged = true, s.vars.push_back({"main", "none", kTextType, 0, Stored(Text("x"))}); }, true, "does not match", ""},
    {"silent_receive", [](SimCalc& s) { s.silent = true; }, true, "did not answer", ""},
};

class Failure : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(Failure, EndsWithItsLine)
{
    const ModelRow& m = kRows[std::get<0>(GetParam())];
    const FailureRow& row = kFailures[std::get<1>(GetParam())];
    SimCalc sim = Sim(m);
    row.set(sim);
    const Variable entries[] = {{"main", "notes", kTextType, 0, kCases[0].second[0].data}};
    const auto link = Drive(sim, [&](Link& l) {
        row.receive ? LinkStartReceive(l, m.link, m.usb, "main", "none", kTextType, 0) : LinkStartSend(l, m.link, m.usb, entries, 0);
    });
    ASSERT_EQ(LinkStateOf(*link), LinkState::failed);
    const std::string line = LinkFailure(*link);
    EXPECT_NE(line.find(row.line), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    if (m.link != LinkModel::ti92)
        EXPECT_NE(line.find(m.usb || !row.cable_why ? row.why : row.cable_why), std::string::npos) << line;
    if (!row.receive)
        EXPECT_EQ(LinkAcknowledged(*link), 0u);
}

INSTANTIATE_TEST_SUITE_P(Link, Failure, testing::Combine(testing::Range(0, kRowCount), testing::Range(0, 9)), [](const auto& p) {
    return std::string(kRows[std::get<0>(p.param)].label) + "_" + kFailures[std::get<1>(p.param)].label;
});

// The bulk endpoints of interface 0 and the IN packet size; an interrupt endpoint, another
// interface's and a descriptor cut short are passed over.
TEST(UsbFraming, FindsBulkEndpoints)
{
    const unsigned char d[] = {9, 2, 46, 0, 2, 1, 0, 0x80, 50, 9, 4, 0, 0, 3, 0xFF, 0, 0, 0,
                               7, 5, 0x83, 3, 8, 0, 10,     // interrupt IN
                               7, 5, 0x81, 2, 0x40, 0, 0,   // bulk IN, 64 bytes
                               7, 5, 0x02, 2, 0x40, 0, 0,   // bulk OUT
                               9, 4, 1, 0, 1, 0xFF, 0, 0, 0, 7, 5, 0x84, 2, 0, 2, 0};
    const UsbEndpoints e = FindBulkEndpoints(d);
    EXPECT_TRUE(e.in == 0x81 && e.out == 0x02 && e.max_packet == 64);
    EXPECT_EQ(WholePacketRead(e, 65), 128u);
    EXPECT_EQ(FindBulkEndpoints(std::span(d).first(30)).in, 0);
}

} // namespace

// libticalcs2's directory listing leaks a little of its own, through glib, which sorvel does
// not use.
extern "C" const char* __lsan_default_suppressions() { return "leak:g_malloc0\n"; }
