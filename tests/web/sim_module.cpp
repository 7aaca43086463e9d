// The simulated calculator of the link tests, for the browser test: compiled to WebAssembly and
// put behind a fake USB device in the page, it answers what the page sends and keeps what it
// stored.
#include "../link/sim_calc.h"

#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
SimCalc* g_sim;
}

extern "C" {

// A new calculator, row `model` of the table of models (core/model.h), on the cable or (`usb`) its own port, holding nothing,
// refusing every variable with `refusal` (0 for none), `silent`, going away after `gone_after` bytes.
EMSCRIPTEN_KEEPALIVE void sim_new(int model, int usb, unsigned refusal, int silent, double gone_after)
{
    delete g_sim;
    g_sim = new SimCalc{&kModels[static_cast<std::size_t>(model) % std::size(kModels)], usb != 0};
    g_sim->refusal = refusal;
    g_sim->silent = silent;
    g_sim->gone_after = gone_after < 0 ? SIZE_MAX : static_cast<std::size_t>(gone_after);
}
// Sets the strictness option `name` (a field of SimCalc, where each says what real behaviour it
// stands for: "model" a row of the table of models, "refusal", "busy", "ack_status", "missing_ack", "allot",
// "delays", "damaged", "out_of_turn") to `value`; 0 for a name it does not know.
EMSCRIPTEN_KEEPALIVE int sim_option(const char* name, double value)
{
    SimCalc& s = *g_sim;
    const std::pair<const char*, unsigned*> options[] = {
        {"refusal", &s.refusal}, {"busy", &s.busy}, {"ack_status", &s.ack_status}, {"missing_ack", &s.missing_ack},
        {"allot", &s.allot}, {"delays", &s.delays}, {"damaged", &s.damaged}, {"out_of_turn", &s.out_of_turn}};
    for (const auto& [option, field] : options)
        if (!std::strcmp(name, option))
            return *field = static_cast<unsigned>(value), 1;
    if (std::strcmp(name, "model"))
        return 0;
    s.model = &kModels[static_cast<std::size_t>(value) % std::size(kModels)];
    return 1;
}
// Adds variable folder\name of `type` (0x0B a text made on the calculator, 0x0C one sent) and `attribute`, held as `stored` (its big-endian size, then its data).
EMSCRIPTEN_KEEPALIVE void sim_add(const char* folder, const char* name, int type, int attribute,
                                  const unsigned char* stored, std::size_t n)
{
    g_sim->vars.push_back({folder, name, static_cast<unsigned char>(type), static_cast<unsigned char>(attribute),
                           Bytes(stored, stored + n)});
}
// Takes a write of the computer's (n 0: a zero-length write); 0 once the device is gone.
EMSCRIPTEN_KEEPALIVE int sim_take(const unsigned char* data, std::size_t n)
{
    g_sim->zero_length_writes += n == 0;
    return g_sim->Take(data, n);
}
// Moves at most `most` bytes of the calculator's answer to `to`; returns how many.
EMSCRIPTEN_KEEPALIVE std::size_t sim_read(unsigned char* to, std::size_t most)
{
    const std::size_t n = std::min(most, g_sim->out.size());
    std::copy_n(g_sim->out.begin(), n, to);
    g_sim->out.erase(g_sim->out.begin(), g_sim->out.begin() + n);
    return n;
}
EMSCRIPTEN_KEEPALIVE std::size_t sim_pending() { return g_sim->out.size(); }
EMSCRIPTEN_KEEPALIVE int sim_zero_length_writes() { return g_sim->zero_length_writes; }
// What variable `i` holds: folder, name, attribute, stored bytes and their size.
EMSCRIPTEN_KEEPALIVE std::size_t sim_count() { return g_sim->vars.size(); }
EMSCRIPTEN_KEEPALIVE const char* sim_folder(std::size_t i) { return g_sim->vars[i].folder.c_str(); }
EMSCRIPTEN_KEEPALIVE const char* sim_name(std::size_t i) { return g_sim->vars[i].name.c_str(); }
EMSCRIPTEN_KEEPALIVE int sim_attribute(std::size_t i) { return g_sim->vars[i].attribute; }
EMSCRIPTEN_KEEPALIVE const unsigned char* sim_stored(std::size_t i) { return g_sim->vars[i].stored.data(); }
EMSCRIPTEN_KEEPALIVE std::size_t sim_stored_size(std::size_t i) { return g_sim->vars[i].stored.size(); }

} // extern "C"
