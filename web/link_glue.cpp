// The page's way to the calculator: one Link held in the module's memory, started by the script,
// which then only moves bytes between it and the USB device (sorvel_link_output, each write
// followed by sorvel_link_written once it completed, then sorvel_link_feed with what the device
// sent) and passes the time, in milliseconds (performance.now()), until sorvel_link_state is no
// longer running.
#include "core/charset.h"
#include "core/link/link.h"
#include "core/var_file.h"

#include <emscripten.h>

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
    if (!g_link)
        g_link = static_cast<Link*>(std::calloc(1, sizeof(Link)));
    if (!g_entries)
        g_entries = static_cast<LinkEntry*>(std::malloc(kMaxEntries * sizeof(LinkEntry)));
    return g_link && g_entries;
}

// Appends calculator name `name` (its bytes up to NUL, 8 at most) to `out` in UTF-8.
void AppendShown(const char* name, char* out, std::size_t room)
{
    std::size_t at = std::strlen(out);
    for (std::size_t i = 0; i < 8 && name[i]; ++i) {
        const std::string_view s = CalcByte2Utf8(static_cast<unsigned char>(name[i]));
        if (at + s.size() >= room)
            break;
        std::memcpy(out + at, s.data(), s.size());
        out[at += s.size()] = '\0';
    }
}

// The link's model for the page's model setting `option` (89, 92, 92p or v200).
LinkModel ModelOf(const char* option)
{
    return !std::strcmp(option, "92") ? LinkModel::ti92 : !std::strcmp(option, "92p") ? LinkModel::ti92p
         : !std::strcmp(option, "v200") ? LinkModel::v200 : LinkModel::ti89;
}

} // namespace

extern "C" {

// Starts sending the variables of variable file `file` (size bytes; one variable or a group)
// through USB product `product` (0xE001 the cable, 0xE004 the TI-89 Titanium's port) to
// calculator `model_option`, at time `now`. Returns 0, or 1 when the file holds no variable to
// send, 2 when no memory is left, 3 for another product.
EMSCRIPTEN_KEEPALIVE int sorvel_link_send(const unsigned char* file, std::size_t size, int product,
                                          const char* model_option, double now)
{
    if (product != kCableProduct && product != kTitaniumProduct)
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
        if (g_names[0])
            AppendShown(", ", g_names, sizeof g_names);
        AppendShown(g_vars[i].folder, g_names, sizeof g_names);
        AppendShown("\\", g_names, sizeof g_names);
        AppendShown(g_vars[i].name, g_names, sizeof g_names);
    }
    if (g_var_count == 0)
        return 1;
    LinkStartSend(*g_link, product, ModelOf(model_option), {g_vars, g_var_count}, static_cast<std::uint64_t>(now));
    return 0;
}

// Starts listing the calculator's folders and variables; returns as sorvel_link_send.
EMSCRIPTEN_KEEPALIVE int sorvel_link_list(int product, const char* model_option, double now)
{
    if (product != kCableProduct && product != kTitaniumProduct)
        return 3;
    if (!ForgetLastTransfer())
        return 2;
    LinkStartList(*g_link, product, ModelOf(model_option), {g_entries, kMaxEntries}, static_cast<std::uint64_t>(now));
    return 0;
}

// Starts receiving text variable `folder`\`name` of `type` as listed (0x0B or 0x0C); returns as
// sorvel_link_send.
EMSCRIPTEN_KEEPALIVE int sorvel_link_receive(int product, const char* model_option, const char* folder,
                                             const char* name, int type, double now)
{
    if (product != kCableProduct && product != kTitaniumProduct)
        return 3;
    if (!ForgetLastTransfer())
        return 2;
    LinkStartReceive(*g_link, product, ModelOf(model_option), folder, name, static_cast<unsigned char>(type),
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
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_found() { return LinkFound(*g_link); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_found_option() { return LinkFoundOption(*g_link); }
// The variables a send started with, as folder\name joined by ", ".
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_sent_names() { return g_names; }

// The entries of a finished list: each one's folder, name (as the calculator's bytes), type
// and size; "" and 0 past the last.
EMSCRIPTEN_KEEPALIVE std::size_t sorvel_link_count() { return LinkListCount(*g_link); }
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_entry_folder(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].folder : ""; }
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_entry_name(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].name : ""; }
EMSCRIPTEN_KEEPALIVE int sorvel_link_entry_type(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].type : 0; }
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_link_entry_size(std::size_t i) { return i < sorvel_link_count() ? g_entries[i].size : 0; }
// Calculator name `name` in UTF-8, until the next call.
EMSCRIPTEN_KEEPALIVE const char* sorvel_link_shown(const char* name)
{
    static char shown[8 * 4 + 1];
    shown[0] = '\0';
    AppendShown(name, shown, sizeof shown);
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
    g_received = model ? DataBuffer2OTHBuffer(v.name, v.data, g_received_size, failure, *model, v.folder, v.attribute)
                       : nullptr;
    return g_received;
}
EMSCRIPTEN_KEEPALIVE std::uint32_t sorvel_link_received_size() { return g_received_size; }

} // extern "C"
