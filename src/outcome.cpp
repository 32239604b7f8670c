// The outcome of an update. One atomic value: the worker records a short
// write from its thread, everything else is recorded on the UI thread.
#include "outcome.h"

#include <atomic>

namespace {

std::atomic<UpdateOutcome> issue{UpdateOutcome::None};

bool remplace(UpdateOutcome nouvelle, UpdateOutcome ancienne)
{
    switch (nouvelle) {
    case UpdateOutcome::Success:
    case UpdateOutcome::PackageRefused:
    case UpdateOutcome::UnknownProduct:
        return true;
    case UpdateOutcome::CameraError:
    case UpdateOutcome::Disconnected:
        return ancienne == UpdateOutcome::None || ancienne == UpdateOutcome::SendFailed;
    case UpdateOutcome::Stopped:
    case UpdateOutcome::SendFailed:
        return ancienne == UpdateOutcome::None;
    case UpdateOutcome::None:
        return false;
    }
    return false;
}

} // namespace

void DeciderIssue(UpdateOutcome outcome)
{
    UpdateOutcome ancienne = issue.load();
    while (remplace(outcome, ancienne) && !issue.compare_exchange_weak(ancienne, outcome)) {
    }
}

UpdateOutcome IssueMiseAJour()
{
    return issue.load();
}

void OublierIssue()
{
    issue.store(UpdateOutcome::None);
}

const char *NomIssue(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::None: return "none";
    case UpdateOutcome::Success: return "success";
    case UpdateOutcome::CameraError: return "camera-error";
    case UpdateOutcome::Disconnected: return "disconnected";
    case UpdateOutcome::Stopped: return "stopped";
    case UpdateOutcome::PackageRefused: return "package-refused";
    case UpdateOutcome::UnknownProduct: return "unknown-product";
    case UpdateOutcome::SendFailed: return "send-failed";
    }
    return "none";
}
