// The dialogue with the camera's bootloader: what the camera says arrives
// here, chunk by chunk, on the UI thread.
#pragma once

// Receive callback installed on every scanned port: gathers what the port
// says into a chunk (collecte.h), then logs it and acts on the banner and on
// the bootloader's replies.
void ReceptionRS(int portNumber, int eventMask, void *callbackData);

// Search of `word` in the zero-terminated `text`, ignoring the case of the
// ASCII letters (the same in every locale).
bool ContientMot(const char *text, const char *word);
