// Deliveries held while a modal popup is open (see popup_hold.h).
#include "popup_hold.h"

#include <utility>
#include <vector>

namespace {

int popupDepth = 0;                             // popups open now, nested
std::vector<std::function<void()>> held;        // run when the last popup closes

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
    // Taken first: a resumed delivery may open a popup of its own and hold again.
    std::vector<std::function<void()>> waiting;
    waiting.swap(held);
    for (std::function<void()> &resume : waiting)
        resume();
}

bool holdUntilPopupsClose(std::function<void()> resume)
{
    if (popupDepth == 0 || !resume)
        return false;
    held.push_back(std::move(resume));
    return true;
}

} // namespace platform
