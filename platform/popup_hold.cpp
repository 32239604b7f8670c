// Receive callbacks held while a modal popup is open (see popup_hold.h).
#include "popup_hold.h"
#include "popups.h"

#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <fcntl.h>
#include <vector>

namespace {

int popupDepth = 0;                            // popups open now, nested
std::vector<QPointer<QSocketNotifier>> held;   // switched off until the last popup closes

bool descriptorOpen(int fd)
{
    return fd >= 0 && ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

bool ModalPopupOpen()
{
    return popupDepth > 0;
}

namespace platform {

void enterModalPopup()
{
    ++popupDepth;
}

void leaveModalPopup()
{
    if (popupDepth > 0)
        --popupDepth;
    if (popupDepth > 0)
        return;
    // The callbacks come from the event loop's next pass, after the code that
    // opened the popup has gone on with the operator's answer. A notifier on
    // a closed descriptor would make the event loop spin: it stays off.
    std::vector<QPointer<QSocketNotifier>> waiting;
    waiting.swap(held);
    for (const QPointer<QSocketNotifier> &notifier : waiting)
        if (notifier && descriptorOpen(int(notifier->socket())))
            notifier->setEnabled(true);
}

bool holdWhileModalPopup(QSocketNotifier *notifier)
{
    if (popupDepth == 0 || !notifier)
        return false;
    // Level-triggered: left on, it would fire on every pass of the popup's loop.
    notifier->setEnabled(false);
    if (std::find(held.begin(), held.end(), notifier) == held.end())
        held.emplace_back(notifier);
    return true;
}

} // namespace platform
