// The UI thread's event loop as the program sees it: run it, end it, and
// tell whether the calling thread is the one it runs on.
#pragma once

// Runs callbacks on the calling (UI) thread until QuitUserInterface; returns
// the value given to QuitUserInterface.
int RunUserInterface();
// Ends the innermost RunUserInterface (or makes the next one return at once
// when none runs). Any thread. Returns 0.
int QuitUserInterface(int returnCode);
// True on the thread that runs the event loop and every callback.
bool OnUiThread();

namespace platform {

// Puts the numeric and character-class locale back to C, whatever the
// desktop's language: numbers and the camera's words keep one meaning.
void fixProcessLocale();

} // namespace platform
