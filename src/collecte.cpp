// Chunks gathered at 1 ms a byte on a schedule: byte i of a chunk is read at
// its start plus i ms, and the chunk ends at the first of those moments that
// finds the queue empty. The moments are kept with delayed calls, and those
// that have come when a call arrives late are caught up at once, so the
// chunk holds what a reader pausing 1 ms after every byte would have read.
#include "collecte.h"

#include "loader_state.h"
#include "platform.h"

#include <cstdint>

namespace {

constexpr double kPausePerByte = 0.001;
constexpr double kClockSlack = 1e-9;  // a call made for a moment counts as at it, not before

struct Collecte {
    bool active = false;
    ChunkHandler done = nullptr;
    double start = 0.0;      // Timer() of the first byte's read
    int bytesRead = 0;       // NULs included: each takes its millisecond
    int count = 0;           // bytes kept
    int delayedCall = 0;     // the next look at the queue, 0 = none
    char buffer[kLongestChunk + 1];
};

Collecte collectes[kComPortCount];  // by COM number; static, the receive path allocates nothing

bool portSuivi(int port)
{
    return port >= kFirstComPort && port <= kLastComPort;
}

void finir(int port)
{
    Collecte &c = collectes[port];
    c.active = false;
    c.delayedCall = 0;
    c.buffer[c.count] = '\0';
    HoldComCallback(port, 0);  // the next chunk starts when bytes wait again
    // Handled from a copy: a new chunk may start on this port meanwhile.
    char chunk[kLongestChunk + 1];
    for (int i = 0; i <= c.count; ++i)
        chunk[i] = c.buffer[i];
    c.done(port, chunk, c.count);
}

void poursuivre(void *portAsData);

// Reads the bytes whose moment has come, then either ends the chunk or
// comes back at the next moment that can decide anything: the moment of
// the last byte already waiting, or of the byte that would fill the chunk.
void lire(int port)
{
    Collecte &c = collectes[port];
    const double now = Timer();
    int waiting = 0;
    while (c.start + c.bytesRead * kPausePerByte <= now + kClockSlack) {
        if (c.count >= kLongestChunk) {
            finir(port);
            return;
        }
        waiting = GetInQLen(port);
        if (waiting <= 0) {  // empty after the pause, or a port error
            finir(port);
            return;
        }
        const int byte = ComRdByte(port);
        if (byte < 0) {
            finir(port);
            return;
        }
        c.buffer[c.count] = static_cast<char>(byte & 0xFF);
        if (c.buffer[c.count] != '\0')  // a NUL is dropped; the next byte takes its place
            ++c.count;
        ++c.bytesRead;
        --waiting;
    }
    // The `waiting` bytes still queued will all be read: nothing is decided
    // before the moment of the last of them, nor after the chunk could fill.
    int ahead = waiting > 0 ? waiting : 0;
    if (ahead > kLongestChunk - c.count)
        ahead = kLongestChunk - c.count;
    const double next = c.start + (c.bytesRead + ahead) * kPausePerByte;
    c.delayedCall = PostDelayedCall(next - now, poursuivre,
                                    reinterpret_cast<void *>(static_cast<std::intptr_t>(port)));
    if (c.delayedCall <= 0)  // no timer left: end the chunk rather than lose the port
        finir(port);
}

void poursuivre(void *portAsData)
{
    const int port = static_cast<int>(reinterpret_cast<std::intptr_t>(portAsData));
    if (!portSuivi(port) || !collectes[port].active)
        return;
    collectes[port].delayedCall = 0;
    lire(port);
}

} // namespace

void DebutCollecte(int port, ChunkHandler done)
{
    if (!portSuivi(port) || !done || collectes[port].active)
        return;
    Collecte &c = collectes[port];
    c.active = true;
    c.done = done;
    c.start = Timer();
    c.bytesRead = 0;
    c.count = 0;
    c.delayedCall = 0;
    HoldComCallback(port, 1);
    lire(port);
}

void AbandonCollecte(int port)
{
    if (!portSuivi(port) || !collectes[port].active)
        return;
    Collecte &c = collectes[port];
    if (c.delayedCall > 0)
        CancelDelayedCall(c.delayedCall);
    c.delayedCall = 0;
    c.active = false;
}

bool CollecteEnCours(int port)
{
    return portSuivi(port) && collectes[port].active;
}
