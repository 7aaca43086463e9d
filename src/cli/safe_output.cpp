#include "cli/safe_output.h"

#include "cli/safe_output_system.h"

OutputStatus Bytes2Files(std::span<const Output> outputs, std::size_t& failed)
{
    const std::size_t n = outputs.size();
    Plan* const plans = NewPlans(n);
    failed = 0;
    if (!plans)
        return OutputStatus::not_written;
    OutputStatus status = OutputStatus::written;
    std::size_t ready = 0;
    for (; ready < n && status == OutputStatus::written; ++ready) {
        Plan& plan = PlanAt(plans, ready);
        status = Prepare(outputs[ready], plan);
        // A file written in place cannot be put back: a group takes none.
        if (status == OutputStatus::written && n > 1 && WayOf(plan) == Way::in_place)
            status = OutputStatus::no_temporary;
        failed = ready;
    }

    // What cannot be undone goes first: streams, devices, and a lone file written in place.
    for (std::size_t i = 0; i < ready && status == OutputStatus::written; ++i)
        if (WayOf(PlanAt(plans, i)) != Way::temporary) {
            status = WriteDirect(outputs[i], PlanAt(plans, i));
            failed = i;
        }

    // Then the renames, all or none, with nothing to stop them half way.
    HoldSignals();
    std::size_t swapped = 0;
    for (; status == OutputStatus::written && swapped < ready; ++swapped)
        if (WayOf(PlanAt(plans, swapped)) == Way::temporary &&
            (status = Swap(outputs[swapped], PlanAt(plans, swapped))) != OutputStatus::written)
            failed = swapped;
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
    ReleaseSignals();
    DeletePlans(plans, n);
    return status;
}
