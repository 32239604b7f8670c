// The progress tick: what the panel shows on every TIMER tick of an update.
#pragma once

// Advances the animation; once a second shows time, rate and megabytes and
// acts on the latest step the camera reported. `timerControl` is the timer
// that ticked (disabled when the update succeeds).
void AvancementProgression(int panel, int timerControl);
