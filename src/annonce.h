// What an operator who listens to a screen reader is told of an update: the
// camera's steps and how the update ended, in the panel's language, as
// events the reader speaks wherever the keyboard focus is. The end is told
// from the outcome the loader decided (outcome.h), never from the log.
// UI thread.
#pragma once

// The step the panel has just shown (loader_state.h kStep...): erasing and
// programming are told; the written flash is told as the outcome.
void AnnoncerEtape(int step);

// Tells the outcome of the update once it is decided: called wherever an
// update may have ended (or the camera answered "ERROR"). An outcome already
// told for this update is not told again. Called while no outcome is
// recorded (at Ok, at the camera's connection), it tells nothing and lets
// the next update's outcome be told, even one equal to the last.
void AnnoncerIssue();
