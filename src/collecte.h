// Gathering a chunk: what one port says, read at 1 ms a byte so that a
// reply arriving in pieces joins one chunk, without holding the event loop
// (the window repaints, the timer ticks and Stop acts meanwhile).
#pragma once

constexpr int kLongestChunk = 4999;  // bytes kept in one chunk (NULs are dropped)

// What is done with a gathered chunk: its port, and the bytes kept,
// zero-terminated (at most kLongestChunk).
using ChunkHandler = void (*)(int port, const char *chunk, int length);

// Starts gathering on `port` (1..49) when bytes wait and no chunk is being
// gathered there: the port's receive callback is held until the chunk ends,
// and `done` is called with it from the event loop. A chunk ends when its
// port's queue is found empty at least 1 ms after the last byte read (every
// byte read, NULs included, takes its 1 ms), at kLongestChunk bytes kept, or
// on a port error. UI thread.
void DebutCollecte(int port, ChunkHandler done);
// The port is being closed: a chunk being gathered there is dropped,
// unhandled. Nothing happens when none is. UI thread.
void AbandonCollecte(int port);
// True while a chunk is being gathered on `port`.
bool CollecteEnCours(int port);
