#include "cli/safe_output.h"

#include "cli/safe_output_system.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

struct OutputSet {
    Plan* plans;
    Output* outputs;       // as added, the bytes of one written directly pointing into `kept`
    unsigned char** kept;  // copies of those bytes, freed with the set
    std::size_t n, ready;  // outputs the set has room for, and those added
    bool failed;           // the last one added failed: the set takes no more
    bool put;              // PutOutputs has released every plan
};

namespace {

char g_reason[256];

// Keeps why the step that has just failed did, as the system words it.
void KeepReason()
{
    DescribeSystemError(g_reason, sizeof g_reason);
}

} // namespace

OutputSet* NewOutputSet(std::size_t n)
{
    // The set, its outputs and its copies' pointers in one block: a run's allocations are a good
    // part of its work.
    static_assert(sizeof(OutputSet) % alignof(Output) == 0 && sizeof(Output) % alignof(unsigned char*) == 0);
    const std::size_t room = n ? n : 1, each = sizeof(Output) + sizeof(unsigned char*);
    if (room > (SIZE_MAX - sizeof(OutputSet)) / each)
        return nullptr;
    auto* const set = static_cast<OutputSet*>(std::calloc(1, sizeof(OutputSet) + room * each));
    if (!set)
        return nullptr;
    set->n = n;
    set->outputs = reinterpret_cast<Output*>(set + 1);
    set->kept = reinterpret_cast<unsigned char**>(set->outputs + room);
    set->plans = NewPlans(n);
    if (!set->plans) {
        std::free(set);
        return nullptr;
    }
    return set;
}

OutputStatus AddOutput(OutputSet& set, const Output& out)
{
    if (set.failed || set.ready == set.n)
        return OutputStatus::not_written;
    Plan& plan = PlanAt(set.plans, set.ready);
    ForgetSystemError();
    OutputStatus status = Prepare(out, plan);
    if (status != OutputStatus::written)
        KeepReason();
    // A file written in place cannot be put back: a group takes none.
    if (status == OutputStatus::written && set.n > 1 && WayOf(plan) == Way::in_place) {
        KeepReason();
        status = OutputStatus::no_temporary;
    }
    Output& added = set.outputs[set.ready++] = out;
    added.bytes = {};
    if (status == OutputStatus::written && WayOf(plan) != Way::temporary) {
        unsigned char*& copy = set.kept[set.ready - 1];
        copy = static_cast<unsigned char*>(std::malloc(out.bytes.size() ? out.bytes.size() : 1));
        if (!copy)
            status = OutputStatus::not_written;
        else
            std::memcpy(copy, out.bytes.data(), out.bytes.size());
        added.bytes = {copy, copy ? out.bytes.size() : 0};
    }
    set.failed = status != OutputStatus::written;
    return status;
}

OutputStatus PutOutputs(OutputSet& set, std::size_t& failed)
{
    const std::size_t ready = set.ready;
    Plan* const plans = set.plans;
    OutputStatus status = OutputStatus::written;
    failed = 0;

    // What cannot be undone goes first: streams, devices, and a lone file written in place.
    for (std::size_t i = 0; i < ready && status == OutputStatus::written; ++i)
        if (WayOf(PlanAt(plans, i)) != Way::temporary) {
            ForgetSystemError();
            if ((status = WriteDirect(set.outputs[i], PlanAt(plans, i))) != OutputStatus::written)
                KeepReason();
            failed = i;
        }

    // Then the renames, all or none, with nothing to stop them half way.
    HoldSignals();
    std::size_t swapped = 0;
    for (; status == OutputStatus::written && swapped < ready; ++swapped) {
        if (WayOf(PlanAt(plans, swapped)) != Way::temporary)
            continue;
        ForgetSystemError();
        if ((status = Swap(set.outputs[swapped], PlanAt(plans, swapped))) != OutputStatus::written) {
            KeepReason();
            failed = swapped;
        }
    }
    for (std::size_t i = swapped; i-- > 0;) {
        Plan& plan = PlanAt(plans, i);
        if (WayOf(plan) != Way::temporary || (status != OutputStatus::written && i == failed))
            continue;
        if (status == OutputStatus::written)
            Settle(plan);
        else
            Undo(plan);
    }
    for (std::size_t i = 0; i < ready; ++i)
        Release(PlanAt(plans, i));
    set.put = true;
    ReleaseSignals();
    return status;
}

void DeleteOutputSet(OutputSet* set)
{
    if (!set)
        return;
    for (std::size_t i = 0; !set->put && i < set->ready; ++i)
        Release(PlanAt(set->plans, i));
    DeletePlans(set->plans, set->n);
    for (std::size_t i = 0; i < set->ready; ++i)
        std::free(set->kept[i]);
    std::free(set);
}

OutputStatus Bytes2Files(std::span<const Output> outputs, std::size_t& failed)
{
    OutputSet* const set = NewOutputSet(outputs.size());
    failed = 0;
    if (!set)
        return OutputStatus::not_written;
    OutputStatus status = OutputStatus::written;
    for (std::size_t i = 0; i < outputs.size() && status == OutputStatus::written; ++i) {
        status = AddOutput(*set, outputs[i]);
        failed = i;
    }
    if (status == OutputStatus::written)
        status = PutOutputs(*set, failed);
    DeleteOutputSet(set);
    return status;
}

const char* OutputFailureReason()
{
    return g_reason;
}
