// Calls the program asks to have made later on the UI thread: how a wait
// (1 ms per received byte) is taken without holding the event loop.
#pragma once

using DelayedCallPtr = void (*)(void *callbackData);

// Calls fn(callbackData) once, on the UI thread from the event loop, when
// `seconds` have passed (0 or less: on the loop's next pass). While a modal
// popup is open the call waits until the last one has closed, as the serial
// receive callbacks do. Returns a handle > 0, or -1 (null function, not on
// the UI thread, no timer available). UI thread only.
int PostDelayedCall(double seconds, DelayedCallPtr fn, void *callbackData);
// The same from any thread, on the loop's next pass: fn(callbackData) is
// queued behind what the thread queued for the panel before it. Never waits.
void PostDeferredCall(DelayedCallPtr fn, void *callbackData);
// Withdraws a call not yet made: no call comes for `handle` afterwards.
// Returns 0, or -1 when the handle is unknown (made, withdrawn or never given).
int CancelDelayedCall(int handle);
