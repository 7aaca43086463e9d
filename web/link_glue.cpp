// The page's way to the calculator: one Link held in the module's memory, started by the script,
// which then only moves bytes between it and the USB device (sorvel_link_output, each write
// followed by sorvel_link_written once it completed, then sorvel_link_feed with what the device
// sent) and passes the time, in milliseconds (performance.now()), until sorvel_link_state is no
// longer running.
#include "core/link/link.h"
#include "core/text_decoder.h"
#include "core/var_file.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The most entries a list keeps: far more folders and variables than a calculator holds.
constexpr std::size_t kMaxEntries = 4096;

Link* g_link;
unsigned char* g_file;      // the variable file being sent, which its variables point into
Variable* g_vars;
std::size_t g_var_count;
LinkEntry* g_entries;
bool g_zero_length;
std::size_t g_out_size;
char g_names[1024];         // folder\name of each variable sent, joined by ", "
bool g_names_full;          // one did not fit
unsigned char* g_received;  // the variable file of the variable received
std::uint32_t g_received_size;

// Forgets the last transfer; false when no memory is left for the next.
bool ForgetLastTransfer()
{
    std::free(g_file);
    std::free(g_vars);
    std::free(g_received);
    g_file = nullptr, g_vars = nullptr, g_received = nullptr;
    g_var_count = g_received_size = g_out_size = 0;
    g_names[0] = '\0';
    g_names_full = false;
    if (!g_link)
        g_link = static_cast<Link*>(std::calloc(1, sizeof(Link)));
    if (!g_entries)
        g_entries = static_cast<LinkEntry*>(std::malloc(kMaxEntries * sizeof(LinkEntry)));
    return g_link && g_entries;
}

// Room for a calculator name in UTF-8, with its NUL.
constexpr std::size_t kShownSize = 8 * kTextBytesPerDataByte + 1;

// Appends folder\name of variable `v` in UTF-8 to g_names, after ", " unless first; once one
// does not fit whole, nothing more.
void AppendName(const Variable& v)
{
    char folder[kShownSize], name[kShownSize];
    folder[CalcName2Text(v.folder, true, folder)] = '\0';
    name[CalcName2Text(v.name, true, name)] = '\0';
    const std::size_t at = std::strlen(g_names);
    const int n = std::snprintf(nullptr, 0, "%s%s\\%s", at ? ", " : "", folder, name);
    g_names_full = g_names_full || at + n >= sizeof g_names;
    if (!g_names_full)
        std::snprintf(g_names + at, sizeof g_names - at, "%s%s\\%s", at ? ", " : "", folder, name);
}

// True for a USB product the link reaches a calculator through.
bool Takes(int product) { return product >= 0 && product <= 0xFFFF && LinkTakes(static_cast<std::uint16_t>(product)); }

// The model the page's setting `option` names (the first when it names none: over the cable,
// the calculator then says which it is).
const Model& Told(const char* option)
{
    const Model* model = FindModel(option);
    return model ? *model : kModels[0];
}

} // namespace

extern "C" {

// The USB devices the page reaches calculators through, for its device filters: Texas
// Instruments' vendor ID, and product `i`: the cable, then each calculator's own port; 0 past
// the last.
EMSCRIPTEN_KEEPALIVE int sorvel_link_vendor() { return kTiUsbVendor; }
EMSCRIPTEN_KEEPALIVE int sorvel_link_product(std::size_t i)
{
    if (i == 0)
        return kCableUsbProduct;
    for (const Model& m : kModels)
        if (m.own_port && --i == 0)
            return m.own_port;
    return 0;
}

// The -m option of the calculator a transfer through USB product `product` goes to: the one
// whose own port it is; over the cable, that of variable files opening with `signature` ("" for
// no file; `option` when its files open so, else the first model's whose do) or `option`.
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_model(const char* signature, int product, const char* option)
{
    if (const Model* port = Takes(product) ? ModelOnPort(static_cast<std::uint16_t>(product)) : nullptr)
        return FilesModel(*port).option;
    const auto opens = [&](const Model& m) {
        return *signature && (!std::strcmp(m.signature, signature) || !std::strcmp(m.read_signature, signature));
    };
    const Model& told = Told(option);
    if (!*signature || opens(told))
        return told.option;
    for (const Model& m : kModels)
        if (m.option[0] && opens(m))
            return m.option;
    return told.option;
}

// Starts sending the variables of variable file `file` (size bytes; one variable or a group)
// through USB product `product` (one of sorvel_link_product's) to calculator `model_option`,
// at time `now`. Returns 0, or 1 when the file holds no variable to
// send, 2 when no memory is left, 3 for another product.
EMSCRIPTEN_KEEPALIVE int sorvel_link_send(const unsigned char* file, std::size_t size, int product,
                                          const char* model_option, double now)
{
    if (!Takes(product))
        return 3;
    if (!ForgetLastTransfer())
        return 2;
    const std::size_t n = VarFileEntryCount({file, size});
    g_file = static_cast<unsigned char*>(std::malloc(size ? size : 1));
    g_vars = static_cast<Variable*>(std::malloc((n ? n : 1) * sizeof(Variable)));
    if (!g_file || !g_vars)
        return 2;
    std::memcpy(g_file, file, size);
    if (n == 0 || ParseVarFile({g_file, size}, {g_vars, n}))
        return 1;
    for (std::size_t i = 0; i < n; ++i) {
        if (g_vars[i].type == kFolderType)  // a folder of a group file's header
            continue;
        g_vars[g_var_count++] = g_vars[i];
        AppendName(g_vars[i]);
    }
    if (g_var_count == 0)
        return 1;
    LinkStartSend(*g_link, product, Told(model_option), {g_vars, g_var_count}, static_cast<std::uint64_t>(now));
    return 0;
}

// Starts listing the calculator's folders and variables; returns as sorvel_link_send.
EMSCRIPTEN_KEEPALIVE int sorvel_link_list(int product, const char* model_option, double now)
{
    if (!Takes(product))
        return 3;
    if (!ForgetLastTransfer())
        return 2;
    LinkStartList(*g_link, product, Told(model_option), {g_entries, kMaxEntries}, static_cast<std::uint64_t>(now));
    return 0;
}

// Starts receiving text variable `folder`\`name` of `type` as listed (0x0B or 0x0C); returns as
// sorvel_link_send.
EMSCRIPTEN_KEEPALIVE int sorvel_link_receive(int product, const char* model_option, const char* folder,
                                             const char* name, int type, double now)
{
    if (!Takes(product))
        return 3;
    if (!ForgetLastTransfer())
        return 2;
    LinkStartReceive(*g_link, product, Told(model_option), folder, name, static_cast<unsigned char>(type),
                     static_cast<std::uint64_t>(now));
    return 0;
}

// The next bytes to write to the device (sorvel_link_output_size of them, none when 0, about
// 1 KB at most); when sorvel_link_zero_length is 1, a zero-length write must follow them. Then
// sorvel_link_written once the write (and its zero-length write) completed.
EMSCRIPTEN_KEEPALIVE const unsigned char* sorvel_link_output(double)
{
    const std::span<const unsigned char> out = LinkTakeOutput(*g_link, g_zero_length);
    g_out_size = out.size();
    return out.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_link_output_size() { return g_out_size; }
EMSCRIPTEN_KEEPALIVE int sorvel_link_zero_length() { return g_zero_length; }
EMSCRIPTEN_KEEPALIVE void sorvel_link_written(double now) { LinkWritten(*g_link, static_cast<std::uint64_t>(now)); }
// How long, in ms, a write of `size` bytes may take before the transport gives it up.
EMSCRIPTEN_KEEPALIVE double sorvel_link_write_limit(double size)
{
    return static_cast<double>(LinkWriteLimit(static_cast<std::uint64_t>(size)));
}

// Takes the `size` bytes the device sent (none to let the time pass) at `now`.
EMSCRIPTEN_KEEPALIVE void sorvel_link_feed(const unsigned char* bytes, std::size_t size, double now)
{
    LinkFeed(*g_link, {bytes, size}, static_cast<std::uint64_t>(now));
}
// The device stopped: 1 it went away, 2 a write outlived its limit, 3 an endpoint halted
// again, 4 babble, 5 cancelled by the user.
EMSCRIPTEN_KEEPALIVE void sorvel_link_fault(int kind, double)
{
    LinkFault(*g_link, kind >= 1 && kind <= 5 ? static_cast<LinkFaultKind>(kind) : LinkFaultKind::gone);
}
// In how many ms to call again with no input, at most 100.
EMSCRIPTEN_KEEPALIVE double sorvel_link_next(double now)
{
    return static_cast<double>(LinkNext(*g_link, static_cast<std::uint64_t>(now)));
}

// 0 running, 1 done, 2 failed.
EMSCRIPTEN_KEEPALIVE int sorvel_link_state() { return static_cast<int>(LinkStateOf(*g_link)); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_failure() { return LinkFailure(*g_link); }
// The failure's code (silent, gone, stalled, cable, cancelled, busy, memory, ...), "" when none.
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_failure_code() { return LinkErrorName(LinkErrorOf(*g_link)); }
EMSCRIPTEN_KEEPALIVE double sorvel_link_acknowledged() { return static_cast<double>(LinkMachineOf(*g_link).acknowledged); }
EMSCRIPTEN_KEEPALIVE double sorvel_link_total() { return static_cast<double>(LinkMachineOf(*g_link).total); }
// The data bytes written so far, counted as the writes complete.
EMSCRIPTEN_KEEPALIVE double sorvel_link_progress() { return static_cast<double>(LinkMachineOf(*g_link).progress); }
// The model the calculator behind the cable said it is ("" when not known), and its -m option.
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_found()
{
    static char found[kLinkFoundSize];
    return LinkFound(*g_link, found);
}
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_found_option() { return LinkFoundOption(*g_link); }
// The variables a send started with, as folder\name joined by ", ".
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_sent_names() { return g_names; }
// How many of those the calculator has stored: all once the send is done, else those before the
// one it failed on.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_link_stored()
{
    const LinkMachine& m = LinkMachineOf(*g_link);
    const std::size_t end = m.state == LinkState::done ? m.variables.size() : std::min(m.current, m.variables.size());
    std::size_t stored = 0;
    for (std::size_t i = 0; i < end; ++i)
        stored += m.variables[i].type != kFolderType;
    return stored;
}

// The entries of a finished list: each one's folder, name (as the calculator's bytes), type
// and size; "" and 0 past the last.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_link_count() { return LinkListCount(*g_link); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_entry_folder(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].folder : ""; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_entry_name(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].name : ""; }
EMSCRIPTEN_KEEPALIVE int sorvel_link_entry_type(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].type : 0; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_link_entry_size(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].size : 0; }
// Calculator name `name` (8 bytes at most) in UTF-8, until the next call.
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_shown(const char* name)
{
    static char shown[kShownSize];
    shown[CalcName2Text(name, true, shown)] = '\0';
    return shown;
}

// The variable file of calculator `model_option` holding the variable a finished receive took,
// as the console program writes one (a text listed as 0x0B too is written as 0x0C); null
// (size 0) when no memory is left.
EMSCRIPTEN_KEEPALIVE const unsigned char* sorvel_link_received(const char* model_option)
{
    std::free(g_received);
    const Model* model = FindModel(model_option);
    const Variable v = LinkReceived(*g_link);
    ImageFailure failure;
    g_received_size = 0;
    g_received = model ? TextVariableFile(v.name, v.data, g_received_size, failure, *model, v.folder, v.attribute)
                       : nullptr;
    return g_received;
}
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_link_received_size() { return g_received_size; }

} // extern "C"
