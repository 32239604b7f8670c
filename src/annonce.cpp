// Screen-reader announcements of an update, through AnnounceText.
#include "annonce.h"

#include "loader_state.h"
#include "messages.h"
#include "outcome.h"
#include "platform.h"

namespace {

// The outcome told for the update that runs (None: nothing told yet).
UpdateOutcome dejaAnnoncee = UpdateOutcome::None;

MessageId messageOf(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Success: return MSG_SAY_SUCCESS;
    case UpdateOutcome::CameraError: return MSG_SAY_CAMERA_ERROR;
    case UpdateOutcome::Disconnected: return MSG_SAY_DISCONNECTED;
    case UpdateOutcome::Stopped: return MSG_SAY_STOPPED;
    case UpdateOutcome::PackageRefused: return MSG_SAY_PACKAGE_REFUSED;
    case UpdateOutcome::UnknownProduct: return MSG_SAY_UNKNOWN_PRODUCT;
    case UpdateOutcome::SendFailed: return MSG_SAY_SEND_FAILED;
    case UpdateOutcome::None: break;
    }
    return MSG_COUNT;
}

} // namespace

void AnnoncerEtape(int step)
{
    if (step == kStepFileReceived)
        AnnounceText(loader.panel, Msg(MSG_ERASING, loader.language));
    else if (step == kStepErased)
        AnnounceText(loader.panel, Msg(MSG_PROGRAMMING, loader.language));
}

void AnnoncerIssue()
{
    const UpdateOutcome issue = IssueMiseAJour();
    if (issue == dejaAnnoncee)
        return;
    dejaAnnoncee = issue;
    if (issue != UpdateOutcome::None)
        AnnounceText(loader.panel, Msg(messageOf(issue), loader.language));
}
