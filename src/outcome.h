// How an update ended, as the loader decides it: a value set at the point of
// decision (the tick that shows "WRITE OK", the hang-up handler, Stop, the
// refusals), never read back from the log. The window shows it with the
// catalogue's texts; quorvel-flash takes its exit code from it.
#pragma once

#include <cstdint>

enum class UpdateOutcome : int32_t {
    None,            // no update has ended since the last Ok (or the camera's connection)
    Success,         // the camera reported its flash written ("WRITE OK")
    CameraError,     // the camera answered "ERROR"; the window waits for the operator's Stop
    Disconnected,    // the camera's port went away before "WRITE OK"
    Stopped,         // the operator's Stop, or the window's close
    PackageRefused,  // the image could not be loaded whole, or vers.kq changed: nothing sent after START
    UnknownProduct,  // the banner named no product this package has an image for
    SendFailed,      // a write of the image came back short; the camera has not said why yet
};

// Records `outcome` for the update that runs, by these rules:
//   Success, PackageRefused, UnknownProduct   always recorded;
//   CameraError, Disconnected                 over None or SendFailed;
//   Stopped, SendFailed                       over None only.
// So the camera's own word outranks a guess, and the operator's Stop after
// an "ERROR" keeps the error. Any thread (the worker records SendFailed).
void DeciderIssue(UpdateOutcome outcome);
// The outcome of the last update, None while it runs. Any thread.
UpdateOutcome IssueMiseAJour();
// Back to None: at the operator's Ok and when a camera is connected.
void OublierIssue();

// A word for logs and records: "success", "camera-error", "disconnected",
// "stopped", "package-refused", "unknown-product", "send-failed", "none".
const char *NomIssue(UpdateOutcome outcome);
