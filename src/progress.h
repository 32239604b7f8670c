// The progress tick: what the panel shows on every TIMER tick of an update.
#pragma once

// Advances the animation; once a second shows time, rate and megabytes and
// acts on the latest step the camera reported. `timerControl` is the timer
// that ticked (disabled when the update succeeds).
void AvancementProgression(int panel, int timerControl);
// The camera reported its flash written: the green slide, the programming
// LED off, the success line, the timer stopped and the update ended
// (ArretCom). From the tick, or at once when the camera restarts.
void FinMiseAJourReussie(int panel, int timerControl);
