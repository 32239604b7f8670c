// In-memory serial ports for tests and fuzzers: the dialogue, the worker and
// the update control run on them as on real ports, with no device and no
// pseudo-terminal. The test plays the camera: it plugs a port in, feeds the
// bytes the camera says, reads back what the program wrote, pulls the cable
// or makes writes come back short.
//
// UseMemorySerial(true) routes every call of serial.h to these ports until
// UseMemorySerial(false); switch only while no port is open. The memory
// ports behave as serial.h describes, except that nothing waits on a line:
// a write is accepted at once (or cut short as injected, without the stall).
// The receive and hang-up callbacks come as a real port's watch brings them:
// from the UI thread's event loop only (a timer of no delay), never inside a
// port or panel call; the receive callback while bytes wait, once per pass
// while they stay; the hang-up once per open. Both wait while the callback
// is held (HoldComCallback) and while a modal popup is open, and a hang-up
// is noticed only while the receive callback is installed.
//
// Every function here may be called from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

void UseMemorySerial(bool on);

// Removes every memory port, open or not, with its bytes and its records.
void MemorySerialReset();

// A device appears behind COM `port` (1..kComMaxPort): the port can be
// opened. Plugging a port again after an unplug gives a fresh device.
void MemoryPortPlug(int port);
// The cable is pulled: what waited in the input queue is lost (a hang-up
// discards a line's unread input) and an open port is left failed
// (kComHangUp, receive callback no longer called, the hang-up callback
// called once from the event loop) until closed; a later open finds no
// device.
void MemoryPortUnplug(int port);

// The camera sends `bytes`: they wait in the port's input queue (dropped
// when the port is not open, as a line nobody listens to).
void MemoryPortFeed(int port, const std::string &bytes);
// Bytes still waiting in the input queue.
int MemoryPortWaiting(int port);

// Everything the program wrote on the port since it was plugged, in order.
std::string MemoryPortWritten(int port);
// One ComWrt as the cable took it: the accepted bytes and which thread
// wrote them (a number of its own per thread, from 1 on).
struct MemoryWrite {
    std::string bytes;
    int writer;
};
// Every ComWrt since the plug that got at least one byte through, in order.
std::vector<MemoryWrite> MemoryPortWrites(int port);

// Called for every ComWrt that got at least one byte through, on the
// writing thread, as the cable takes it (nullptr: none). The observer runs
// with the ports locked and must not call any function here.
using MemoryWriteObserver = void (*)(int port, const MemoryWrite &write);
void MemorySerialObserveWrites(MemoryWriteObserver observer);

// The cable accepts `bytes` more bytes in all, then every write comes back
// short (-1: no limit, the default).
void MemoryPortWriteBudget(int port, long long bytes);

// The bytes the program read with ComRdByte during each call of the
// receive callback and the hold of the callback that call began
// (HoldComCallback): one entry per chunk, from entry `from` on (the last
// one still grows while its chunk is being read).
std::vector<std::string> MemoryPortCallbackReads(int port, std::size_t from = 0);
// How many entries MemoryPortCallbackReads holds.
std::size_t MemoryPortCallbackReadCount(int port);
// Receive and hang-up callbacks now running or due and not yet run, on any port.
int MemorySerialCallbacksPending();
