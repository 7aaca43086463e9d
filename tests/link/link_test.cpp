// The link protocol against a simulated calculator, with TiLP's libticalcs2 as the check: it
// drives the same simulated calculator through a cable table of this test's own, which proves
// the simulation, and the bytes it sends are the bytes sorvel's library must send.
#include "core/link/dbus_link.h"
#include "core/link/dusb_link.h"
#include "core/link/usb_framing.h"
#include "core/text_data.h"
#include "sim_calc.h"

#define restrict __restrict  // TiLP's headers are written for C99
#include <ticalcs.h>
#include <ticables.h>
#include <tifiles.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <tuple>

namespace {

struct ModelRow {
    LinkModel link;
    CalcModel tilp;
    const Model& file;
    const char* label;
    bool usb = false;  // the TI-89 Titanium's own USB port and protocol
};
const ModelRow kModelRows[] = {
    {LinkModel::ti89, CALC_TI89, kModels[0], "TI89"},
    {LinkModel::ti89t, CALC_TI89T, kModels[0], "TI89T"},
    {LinkModel::ti92, CALC_TI92, kModels[1], "TI92"},
    {LinkModel::ti92p, CALC_TI92P, kModels[2], "TI92P"},
    {LinkModel::v200, CALC_V200, kModels[3], "V200"},
    {LinkModel::ti89t, CALC_TI89T_USB, kModels[0], "TI89T_USB", true},
};
constexpr int kRows = std::size(kModelRows);

// sorvel's link over either protocol.
struct Link {
    bool usb;
    std::unique_ptr<DbusLink> d = std::make_unique<DbusLink>();
    std::unique_ptr<DusbLink> u = std::make_unique<DusbLink>();
    LinkState state() const { return usb ? u->state : d->state; }
    const char* failure() const { return usb ? u->failure : d->failure; }
    std::uint64_t acknowledged() const { return usb ? u->acknowledged : d->acknowledged; }
    std::uint64_t total() const { return usb ? u->total : d->total; }
    void Send(const ModelRow& m, std::span<const Variable> vars)
    {
        usb ? DusbStartSend(*u, vars, 0) : DbusStartSend(*d, m.link, vars, 0);
    }
    void List(const ModelRow& m, std::span<LinkEntry> entries)
    {
        usb ? DusbStartList(*u, entries, 0) : DbusStartList(*d, m.link, entries, 0);
    }
    void Receive(const ModelRow& m, const char* folder, const char* name)
    {
        usb ? DusbStartReceive(*u, folder, name, kTextType, 0) : DbusStartReceive(*d, m.link, folder, name, kTextType, 0);
    }
    std::span<const unsigned char> Take(std::uint64_t now) { return usb ? DusbTakeOutput(*u, now) : DbusTakeOutput(*d, now); }
    void Feed(std::span<const unsigned char> in, std::uint64_t now) { usb ? DusbFeed(*u, in, now) : DbusFeed(*d, in, now); }
    void Gone() { usb ? DusbDeviceGone(*u) : DbusDeviceGone(*d); }
    std::size_t Count() const { return usb ? DusbListCount(*u) : DbusListCount(*d); }
    Variable Received() const { return usb ? DusbReceived(*u) : DbusReceived(*d); }
};

// A text variable's data holding `text`.
Bytes Text(const std::string& text)
{
    Bytes d(std::begin(kDataOpening), std::end(kDataOpening));
    d.insert(d.end(), text.begin(), text.end());
    d.insert(d.end(), std::begin(kDataClose), std::end(kDataClose));
    return d;
}

struct Item {
    const char* folder;
    const char* name;
    unsigned char attribute;
    Bytes data;
};

// What each send sends: single texts, an empty text, the largest text, an archived text and a
// group over two folders.
struct Case {
    const char* label;
    std::vector<Item> items;
};
const Case kCases[] = {
    {"single", {{"main", "notes", 0, Text("Line one\x0D line two")}}},
    {"empty", {{"main", "empty", 0, Text("")}}},
    {"largest", {{"main", "book", 0, Text(std::string(kMaxStoredText, 'a'))}}},
    {"archived", {{"main", "kept", kArchived, Text("in the archive")}}},
    {"group", {{"main", "a", 0, Text("first")}, {"docs", "b", 0, Text("second")},
               {"docs", "c", 0, Text("third")}, {"main", "d", 0, Text("")}}},
    // Over USB, its content (6 + 2,040 bytes) fills two raw packets of 1,023 bytes exactly.
    {"two_packets", {{"main", "exact", 0, Text(std::string(2033, 'b'))}}},
    // Over USB, its content's last raw packet is 64 bytes with its header: a zero-length write
    // follows.
    {"zero_length", {{"main", "zlp", 0, Text(std::string(3115, 'c'))}}},
};

std::vector<Variable> Variables(const Case& c)
{
    std::vector<Variable> vs;
    for (const Item& it : c.items) {
        Variable v = {{}, {}, kTextType, it.attribute, it.data};
        std::snprintf(v.folder, sizeof v.folder, "%s", it.folder);
        std::snprintf(v.name, sizeof v.name, "%s", it.name);
        vs.push_back(v);
    }
    return vs;
}

// The variable as the calculator stores it: the big-endian size, then the data.
Bytes Stored(const Bytes& data)
{
    Bytes s = {static_cast<unsigned char>(data.size() >> 8), static_cast<unsigned char>(data.size())};
    s.insert(s.end(), data.begin(), data.end());
    return s;
}

std::string Hex(const Bytes& b)
{
    std::string s;
    char x[4];
    for (unsigned char c : b)
        std::snprintf(x, sizeof x, "%02X ", c), s += x;
    return s;
}

// libticalcs2 against `sim`: its cable's functions read and write the simulated calculator.
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
int CableCheck(CableHandle*, int* status)
{
    *status = g_sim->out.empty() ? 0 : 2;
    return 0;
}
int CableNothing(CableHandle*) { return 0; }
CableFncts g_cable_usb = {CABLE_USB, "sim", "sim", "simulated calculator", 0, &CableNothing,
                          &CableNothing, &CableNothing, &CableNothing, &CableNothing, &CableNothing,
                          &CableSend, &CableRecv, &CableCheck};
CableFncts g_cable_slv = {CABLE_SLV, "sim", "sim", "simulated calculator", 0, &CableNothing,
                          &CableNothing, &CableNothing, &CableNothing, &CableNothing, &CableNothing,
                          &CableSend, &CableRecv, &CableCheck};

struct Tilp {
    CableHandle* cable;
    CalcHandle* calc;
    explicit Tilp(const ModelRow& m, SimCalc& sim)
    {
        g_sim = &sim;
        // A handle of the null cable, then given the SilverLink's kind and the table above.
        cable = ticables_handle_new(CABLE_NUL, PORT_1);
        cable->model = m.usb ? CABLE_USB : CABLE_SLV;
        cable->cable = m.usb ? &g_cable_usb : &g_cable_slv;
        calc = ticalcs_handle_new(m.tilp);
        ticalcs_cable_attach(calc, cable);
        // As TiLP does before each operation; over USB, this sets the buffer size and the mode.
        if (m.usb)
            EXPECT_EQ(ticalcs_calc_isready(calc), 0);
    }
    ~Tilp()
    {
        ticalcs_handle_del(calc);
        ticables_handle_del(cable);
    }
};

using Image = std::unique_ptr<unsigned char, decltype(&std::free)>;

// The variable file of `vars` for model `m`, and its entries as the core's reader gives them.
Image FileOf(const ModelRow& m, const std::vector<Variable>& vars, std::uint32_t& size, std::vector<Variable>& entries)
{
    ImageFailure failure;
    Image image(Variables2GroupBuffer(vars, size, failure, m.file), &std::free);
    entries.resize(VarFileEntryCount({image.get(), size}));
    EXPECT_EQ(ParseVarFile({image.get(), size}, entries), nullptr);
    return image;
}

// Sends the file made of `vars` with libticalcs2; its result.
int TilpSend(const ModelRow& m, SimCalc& sim, const std::vector<Variable>& vars)
{
    std::uint32_t size = 0;
    std::vector<Variable> entries;
    const Image image = FileOf(m, vars, size, entries);
    const std::string path = testing::TempDir() + "/link_test_file" + (vars.size() > 1 ? m.file.group_extension : m.file.extension);
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(f && std::fwrite(image.get(), 1, size, f) == size && std::fclose(f) == 0);
    FileContent* content = tifiles_content_create_regular(m.tilp);
    EXPECT_EQ(tifiles_file_read_regular(path.c_str(), content), 0);
    Tilp tilp(m, sim);
    const int result = ticalcs_calc_send_var(tilp.calc, MODE_NORMAL, content);
    tifiles_content_delete_regular(content);
    return result;
}

// Runs sorvel's link against `sim` until it ends; a silent calculator makes the clock jump.
// Sends all that `link` has to send to `sim`; false when the device went away.
bool Flush(Link& link, SimCalc& sim, std::uint64_t now)
{
    for (std::span<const unsigned char> out; !(out = link.Take(now)).empty();) {
        if (!sim.Take(out.data(), out.size()))
            return false;
        sim.zero_length_writes += link.usb && link.u->zero_length_after;
    }
    return true;
}

void Drive(Link& link, SimCalc& sim)
{
    std::uint64_t now = 1000;
    for (int rounds = 0; link.state() == LinkState::running && rounds < 100000; ++rounds) {
        if (!Flush(link, sim, now))
            return link.Gone();
        const Bytes in(sim.out.begin(), sim.out.end());
        sim.out.clear();
        now += in.empty() ? kLinkTimeoutMs : 1;
        // A byte at a time, so that every way of splitting an answer is taken.
        for (unsigned char b : in)
            link.Feed({&b, 1}, now);
        if (in.empty())
            link.Feed({}, now);
    }
    Flush(link, sim, now);
}

// Each variable of `c` stored as its file holds it; archived but on the TI-92, which has no
// archive.
void ExpectStored(const SimCalc& sim, const Case& c)
{
    ASSERT_EQ(sim.vars.size(), c.items.size());
    for (const Item& it : c.items) {
        auto v = std::find_if(sim.vars.begin(), sim.vars.end(), [&](const SimVar& s) { return s.folder == it.folder && s.name == it.name; });
        ASSERT_NE(v, sim.vars.end()) << it.folder << "\\" << it.name;
        EXPECT_EQ(v->stored, Stored(it.data));
        EXPECT_EQ(v->attribute, sim.model == LinkModel::ti92 ? 0 : it.attribute);
        EXPECT_EQ(v->type, kTextType);
    }
}

using Param = std::tuple<int, int>;
class Send : public testing::TestWithParam<Param> {};

// Each model, each file: libticalcs2 and sorvel send the same bytes, and the calculator stores
// each variable as the file holds it.
TEST_P(Send, SameBytesAsTilp)
{
    const ModelRow& m = kModelRows[std::get<0>(GetParam())];
    const Case& c = kCases[std::get<1>(GetParam())];
    const std::vector<Variable> vars = Variables(c);
    SimCalc tilp_sim(m.link, m.usb), sorvel_sim(m.link, m.usb);
    ASSERT_EQ(TilpSend(m, tilp_sim, vars), 0) << Hex(tilp_sim.log);
    ExpectStored(tilp_sim, c);

    std::uint32_t size = 0;
    std::vector<Variable> entries;
    const Image image = FileOf(m, vars, size, entries);
    Link link{m.usb};
    link.Send(m, entries);
    Drive(link, sorvel_sim);
    EXPECT_EQ(link.state(), LinkState::done) << link.failure();
    EXPECT_EQ(link.acknowledged(), link.total());
    ExpectStored(sorvel_sim, c);
    EXPECT_EQ(sorvel_sim.zero_length_writes, tilp_sim.zero_length_writes);
    EXPECT_EQ(tilp_sim.zero_length_writes, m.usb && std::string(c.label) == "zero_length");
    EXPECT_TRUE(sorvel_sim.log == tilp_sim.log) << "sorvel sent " << sorvel_sim.log.size()
                                                << " bytes, libticalcs2 " << tilp_sim.log.size();
}

// Over USB, the calculator may ask for time before it acknowledges: the transfer waits and goes
// on as libticalcs2's does.
TEST(UsbLink, WaitsWhenAskedForTime)
{
    const ModelRow& m = kModelRows[5];
    const std::vector<Variable> vars = Variables(kCases[4]);
    SimCalc tilp_sim(m.link, true), sorvel_sim(m.link, true);
    tilp_sim.delays = sorvel_sim.delays = true;
    ASSERT_EQ(TilpSend(m, tilp_sim, vars), 0);
    std::uint32_t size = 0;
    std::vector<Variable> entries;
    const Image image = FileOf(m, vars, size, entries);
    Link link{true};
    link.Send(m, entries);
    Drive(link, sorvel_sim);
    EXPECT_EQ(link.state(), LinkState::done) << link.failure();
    ExpectStored(sorvel_sim, kCases[4]);
    EXPECT_TRUE(sorvel_sim.log == tilp_sim.log);
}

INSTANTIATE_TEST_SUITE_P(Link, Send, testing::Combine(testing::Range(0, kRows), testing::Range(0, 7)),
                         [](const testing::TestParamInfo<Param>& p) {
                             return std::string(kModelRows[std::get<0>(p.param)].label) + "_" +
                                    kCases[std::get<1>(p.param)].label;
                         });

// The calculator holding the group file's variables, one of them archived.
SimCalc Holding(const ModelRow& m)
{
    SimCalc sim(m.link, m.usb);
    for (const Item& it : kCases[4].items)
        sim.vars.push_back({it.folder, it.name, kTextType, it.attribute, Stored(it.data)});
    sim.vars.push_back({"main", "kept", kTextType, kArchived, Stored(Text("in the archive"))});
    return sim;
}

class Fetch : public testing::TestWithParam<int> {};

// The list: the same folders and variables (name, type, attribute, size) as libticalcs2's, from
// the same bytes sent.
TEST_P(Fetch, ListAsTilp)
{
    const ModelRow& m = kModelRows[GetParam()];
    SimCalc tilp_sim = Holding(m), sorvel_sim = Holding(m);
    GNode *vars = nullptr, *apps = nullptr;
    std::set<std::tuple<std::string, std::string, int, int, unsigned>> tilp_list, sorvel_list;
    {
        Tilp tilp(m, tilp_sim);
        ASSERT_EQ(ticalcs_calc_get_dirlist(tilp.calc, &vars, &apps), 0);
    }
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

    Link link{m.usb};
    LinkEntry entries[16];
    link.List(m, entries);
    Drive(link, sorvel_sim);
    ASSERT_EQ(link.state(), LinkState::done) << link.failure();
    for (std::size_t i = 0; i < link.Count(); ++i) {
        const LinkEntry& e = entries[i];
        sorvel_list.insert({e.folder, e.name, e.type, e.type == 0x1F ? 0 : e.attribute, e.type == 0x1F ? 0 : e.size});
    }
    EXPECT_EQ(sorvel_list, tilp_list);
    EXPECT_EQ(sorvel_list.size(), 7u);  // main, docs and five variables
    EXPECT_EQ(Hex(sorvel_sim.log), Hex(tilp_sim.log));
}

// Receiving: the same bytes sent as libticalcs2 and the same variable, which the core's writer
// turns into a file its reader takes back whole.
TEST_P(Fetch, ReceiveAsTilp)
{
    const ModelRow& m = kModelRows[GetParam()];
    SimCalc tilp_sim = Holding(m), sorvel_sim = Holding(m);
    FileContent* content = tifiles_content_create_regular(m.tilp);
    VarEntry request = {};
    std::strcpy(request.folder, "docs");
    std::strcpy(request.name, "b");
    request.type = kTextType;
    request.size = Stored(Text("second")).size();  // as TiLP knows it from the list
    {
        Tilp tilp(m, tilp_sim);
        ASSERT_EQ(ticalcs_calc_recv_var(tilp.calc, MODE_NORMAL, content, &request), 0);
    }
    const Bytes tilp_data(content->entries[0]->data, content->entries[0]->data + content->entries[0]->size);
    tifiles_content_delete_regular(content);

    Link link{m.usb};
    link.Receive(m, "docs", "b");
    Drive(link, sorvel_sim);
    ASSERT_EQ(link.state(), LinkState::done) << link.failure();
    const Variable got = link.Received();
    EXPECT_EQ(Hex(sorvel_sim.log), Hex(tilp_sim.log));
    EXPECT_EQ(Stored(Bytes(got.data.begin(), got.data.end())), tilp_data);
    EXPECT_EQ(tilp_data, Stored(Text("second")));

    std::uint32_t size = 0;
    ImageFailure failure;
    const Image file(DataBuffer2OTHBuffer(got.name, got.data, size, failure, m.file, got.folder), &std::free);
    Variable back[1];
    ASSERT_EQ(ParseVarFile({file.get(), size}, back), nullptr);
    EXPECT_STREQ(back[0].folder, "docs");
    EXPECT_STREQ(back[0].name, "b");
    EXPECT_TRUE(std::ranges::equal(back[0].data, Text("second")));
}

INSTANTIATE_TEST_SUITE_P(Link, Fetch, testing::Range(0, kRows),
                         [](const testing::TestParamInfo<int>& p) { return std::string(kModelRows[p.param].label); });

// Each way the calculator fails: sorvel ends with its line, never with success, and never
// counts data the calculator did not acknowledge.
struct FailureRow {
    const char* label;
    void (*set)(SimCalc&);
    bool receive;
    const char* line;  // part of the line; the TI-92's refusals give no reason
};
const FailureRow kFailures[] = {
    {"locked", [](SimCalc& s) { s.vars.push_back({"main", "notes", kTextType, kArchived, Stored(Text(""))}); }, false, "refused main\\notes"},
    {"name", [](SimCalc& s) { s.refusal = s.usb ? 0x000D : 0x25; }, false, "refused main\\notes"},
    {"other", [](SimCalc& s) { s.refusal = s.usb ? 0x000C : 0x99; }, false, "refused main\\notes"},
    {"silent", [](SimCalc& s) { s.silent = true; }, false, "did not answer within 10 seconds"},
    {"gone", [](SimCalc& s) { s.gone_after = 30; }, false, "went away"},
    {"out_of_turn", [](SimCalc& s) { s.out_of_turn = true; }, false, "unexpected packet"},
    {"missing", [](SimCalc&) {}, true, "has no variable main\\none"},
    {"damaged", [](SimCalc& s) { s.damaged = true; s.vars.push_back({"main", "none", kTextType, 0, Stored(Text("x"))}); }, true, "does not match"},
    {"silent_receive", [](SimCalc& s) { s.silent = true; }, true, "did not answer"},
};

class Failure : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(Failure, EndsWithItsLine)
{
    const ModelRow& m = kModelRows[std::get<0>(GetParam())];
    const FailureRow& row = kFailures[std::get<1>(GetParam())];
    SimCalc sim(m.link, m.usb);
    row.set(sim);
    const std::vector<Variable> vars = Variables(kCases[0]);
    Link link{m.usb};
    if (row.receive)
        link.Receive(m, "main", "none");
    else
        link.Send(m, vars);
    Drive(link, sim);
    ASSERT_EQ(link.state(), LinkState::failed);
    const std::string line = link.failure();
    EXPECT_NE(line.find(row.line), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
    if (!row.receive)
        EXPECT_EQ(link.acknowledged(), 0u);
    // Why, where the protocol tells.
    const std::string label = row.label;
    if (m.link != LinkModel::ti92 && (label == "locked" || label == "name" || (label == "other" && m.usb)))
        EXPECT_NE(line.find(label == "name" ? "does not take that name" : label == "locked" ? "locked" : "memory is full"),
                  std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Link, Failure, testing::Combine(testing::Range(0, kRows), testing::Range(0, 9)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& p) {
                             return std::string(kModelRows[std::get<0>(p.param)].label) + "_" +
                                    kFailures[std::get<1>(p.param)].label;
                         });

// The endpoints of a device's configuration: bulk IN and OUT of interface 0, the IN packet
// size; an interrupt endpoint, another interface's and a descriptor cut short are passed over.
TEST(UsbFraming, FindsBulkEndpoints)
{
    const unsigned char silverlink[] = {
        9, 2, 32, 0, 1, 1, 0, 0x80, 50,       // configuration
        9, 4, 0, 0, 2, 0xFF, 0, 0, 0,         // interface 0
        7, 5, 0x81, 2, 32, 0, 0,              // bulk IN, 32 bytes
        7, 5, 0x02, 2, 32, 0, 0};             // bulk OUT
    const UsbEndpoints a = FindBulkEndpoints(silverlink);
    EXPECT_EQ(a.in, 0x81);
    EXPECT_EQ(a.out, 0x02);
    EXPECT_EQ(a.max_packet, 32);
    EXPECT_EQ(WholePacketRead(a, 33), 64u);
    const unsigned char titanium[] = {
        9, 2, 46, 0, 2, 1, 0, 0x80, 50,
        9, 4, 0, 0, 3, 0xFF, 0, 0, 0,
        7, 5, 0x83, 3, 8, 0, 10,              // interrupt IN
        7, 5, 0x81, 2, 0x40, 0, 0,            // bulk IN, 64 bytes
        7, 5, 0x02, 2, 0x40, 0, 0,
        9, 4, 1, 0, 1, 0xFF, 0, 0, 0,
        7, 5, 0x84, 2, 0, 2, 0};              // another interface's bulk IN
    const UsbEndpoints b = FindBulkEndpoints(titanium);
    EXPECT_EQ(b.in, 0x81);
    EXPECT_EQ(b.max_packet, 64);
    const UsbEndpoints c = FindBulkEndpoints(std::span(titanium).first(30));
    EXPECT_EQ(c.in, 0);
}

} // namespace

// libticalcs2's directory listing leaks a little of its own, through glib, which sorvel does
// not use.
extern "C" const char* __lsan_default_suppressions() { return "leak:g_malloc0\n"; }

int main(int argc, char** argv)
{
    ticables_library_init();
    tifiles_library_init();
    ticalcs_library_init();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
