#include "core/link/link_machine.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

const char* LinkErrorName(LinkError error)
{
    static const char* const names[] = {
        "", "silent", "gone", "stalled", "cable", "cancelled", "busy", "memory", "too_large", "locked",
        "archived", "locked_or_archived", "name", "missing", "damaged", "unexpected", "model", "too_many",
        "refused"};
    return names[static_cast<unsigned>(error)];
}

void LinkBegin(LinkMachine& m, const Model& model, LinkOperation operation, std::uint64_t now)
{
    m = {};
    m.model = &model;
    m.operation = operation;
    m.answer_within = kLinkTimeoutMs;
    m.deadline = now + kLinkTimeoutMs;
}

bool LinkNextVariable(LinkMachine& m, std::size_t from)
{
    for (m.current = from; m.current < m.variables.size(); ++m.current)
        if (LinkCurrent(m).type != kFolderType)
            return true;
    return false;
}

void LinkWhat(const LinkMachine& m, char (&out)[18])
{
    const bool sending = m.operation == LinkOperation::send;
    const char* folder = sending ? LinkCurrent(m).folder : m.folder;
    const char* name = sending ? LinkCurrent(m).name : m.name;
    std::snprintf(out, sizeof out, *folder ? "%.8s\\%.8s" : "%.0s%.8s", folder, name);
}

void LinkFail(LinkMachine& m, LinkError error, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(m.failure, sizeof m.failure, format, args);
    va_end(args);
    m.state = LinkState::failed;
    m.error = error;
}

void LinkRefuse(LinkMachine& m, std::span<const LinkRefusal> refusals, unsigned code, int digits)
{
    const auto it = std::find_if(refusals.begin(), refusals.end(), [&](const LinkRefusal& r) { return r.code == code; });
    const LinkError error = it == refusals.end() ? LinkError::refused : it->error;
    char what[18], why[64];
    if (it == refusals.end())
        std::snprintf(why, sizeof why, " (its code 0x%0*X)", digits, code);
    else
        std::snprintf(why, sizeof why, ": %s", it->why);
    if (m.operation == LinkOperation::list)
        return LinkFail(m, error, "the calculator refused to list its variables%s", why);
    LinkWhat(m, what);
    if (m.operation == LinkOperation::send)
        return LinkFail(m, error, "the calculator refused %s%s", what, why);
    if (error == LinkError::name)  // a name it does not know: no such variable
        return LinkFail(m, LinkError::missing, "the calculator has no variable %s (its code 0x%0*X)", what, digits, code);
    LinkFail(m, error, "the calculator refused to send %s%s", what, why);
}

void LinkFaultSeen(LinkMachine& m, LinkFaultKind fault)
{
    if (m.state != LinkState::running)
        return;
    switch (fault) {
    case LinkFaultKind::write_expired:
        return LinkFail(m, LinkError::stalled, "the calculator stopped taking bytes (was ESC pressed on it, or the cable pulled at its end?)");
    case LinkFaultKind::halted_again:
        return LinkFail(m, LinkError::cable, "the cable stopped again after it was cleared");
    case LinkFaultKind::babble:
        return LinkFail(m, LinkError::cable, "the cable sent more than it was asked for");
    case LinkFaultKind::cancelled: return LinkFail(m, LinkError::cancelled, "cancelled");
    default: return LinkFail(m, LinkError::gone, "the calculator or its cable went away");
    }
}

void LinkAddEntry(LinkMachine& m, const LinkEntry& e)
{
    if (!std::strcmp(e.folder, "main") && (!std::strcmp(e.name, "regcoef") || !std::strcmp(e.name, "regeq")))
        return;
    if (m.entry_count == m.entries.size())
        return LinkFail(m, LinkError::too_many, "the calculator lists more variables than room for them");
    m.entries[m.entry_count++] = e;
}

void LinkWrittenAt(LinkMachine& m, std::uint64_t now, bool more)
{
    m.writing = false;
    m.progress += m.progress_taken;
    m.progress_taken = 0;
    LinkHeard(m, now);
    if (m.pause_ms && !more) {
        m.resume_at = now + m.pause_ms;
        m.pause_ms = 0;
    }
}

void LinkPause(LinkMachine& m, std::uint32_t ms, bool queued, std::uint64_t now)
{
    if (queued || m.writing)
        m.pause_ms = ms;
    else
        m.resume_at = now + ms;
}

bool LinkPauseOver(LinkMachine& m, std::uint64_t now)
{
    if (!m.resume_at || now < m.resume_at || m.state != LinkState::running)
        return false;
    m.resume_at = 0;
    LinkHeard(m, now);
    return true;
}

bool LinkSpokeInPause(LinkMachine& m, bool bytes)
{
    if (!bytes || (!m.resume_at && !m.pause_ms) || m.state != LinkState::running)
        return false;
    LinkFail(m, LinkError::unexpected, "the calculator sent bytes while this computer paused before going on");
    return true;
}

bool LinkSilent(const LinkMachine& m, std::uint64_t now)
{
    return m.state == LinkState::running && !m.writing && !m.resume_at && !m.pause_ms && now >= m.deadline;
}

void LinkFailSilent(LinkMachine& m)
{
    LinkFail(m, LinkError::silent,
             "the calculator did not answer within %u seconds (is it on, on its home screen, and the cable in?)",
             kLinkTimeoutMs / 1000);
}

void LinkFailAhead(LinkMachine& m)
{
    LinkFail(m, LinkError::unexpected, "the calculator answered what this computer had not sent yet");
}

std::uint64_t LinkNextCall(const LinkMachine& m, std::uint64_t now)
{
    if (m.state != LinkState::running)
        return 0;
    const std::uint64_t at = m.resume_at ? m.resume_at : m.writing || m.pause_ms ? now + 100 : m.deadline;
    return at > now ? std::min<std::uint64_t>(at - now, 100) : 0;
}

bool LinkGather(LinkMachine& m, unsigned char* in, std::size_t& in_size, std::size_t need,
                std::span<const unsigned char> bytes, std::size_t& at, std::uint64_t now)
{
    if (at == bytes.size())
        return false;
    const std::size_t take = std::min(need - in_size, bytes.size() - at);
    std::memcpy(in + in_size, bytes.data() + at, take);
    in_size += take;
    at += take;
    LinkHeard(m, now);
    return true;
}
