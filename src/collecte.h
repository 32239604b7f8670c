// Gathering a chunk: what one port says, read at 1 ms a byte so that a
// reply arriving in pieces joins one chunk, without holding the event loop
// (the window repaints, the timer ticks and Stop acts meanwhile).
#pragma once

constexpr int kLongestChunk = 4999;  // bytes kept in one chunk (NULs are dropped)

// What is done with a gathered chunk: its port, and the bytes kept,
// zero-terminated (at most kLongestChunk).
using ChunkHandler = void (*)(int port, const char *chunk, int length);

// What is done when a port that hung up has had all it received judged.
using LossHandler = void (*)(int port);

// A receive on `port` (1..49): every byte waiting in its queue becomes the
// loader's at once. When no chunk is being gathered there, one starts, and
// `done` is called with it from the event loop. A chunk ends when nothing
// more has been received at least 1 ms after the last byte taken (every
// byte taken, NULs included, takes its 1 ms) or at kLongestChunk bytes
// kept; bytes received past its end start the next chunk. UI thread.
void DebutCollecte(int port, ChunkHandler done);
// The port is being closed: a chunk being gathered there and all it had
// received are dropped, unhandled. UI thread.
void AbandonCollecte(int port);
// True while a chunk is being gathered on `port` or received bytes wait for one.
bool CollecteEnCours(int port);
// Bytes received on `port` and not yet taken into a chunk.
int OctetsRecusEnAttente(int port);
// The port hung up. When it had received bytes not yet judged (or a chunk
// is being gathered), `lost(port)` is called once they all have been, and
// true is returned; false means nothing was pending: act now. UI thread.
bool PerteApresCollecte(int port, LossHandler lost);
