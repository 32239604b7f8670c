// Chunks gathered at 1 ms a byte on a schedule: byte i of a chunk is taken at
// its start plus i ms, and the chunk ends at the first of those moments that
// finds nothing more received. The moments are kept with delayed calls, and
// those that have come when a call arrives late are caught up at once, so the
// chunk holds what a reader pausing 1 ms after every byte would have read.
//
// The bytes themselves are the loader's as soon as they arrive: every
// receive moves all that waits in the port's queue into the port's own
// buffer here. A device that hangs up takes its unread input with it (the
// system discards a hung-up line's queue), so a camera that restarts right
// after "WRITE OK" would otherwise take its verdict along.
#include "collecte.h"

#include "loader_state.h"
#include "platform.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr double kPausePerByte = 0.001;
constexpr double kClockSlack = 1e-9;  // a call made for a moment counts as at it, not before
// Room for what a 115200-baud line brings during the longest chunk (4999
// bytes at 1 ms each: about 57,000 bytes). A device that says more than
// that loses the excess, as an overrun line would.
constexpr int kReceivedCapacity = 1 << 16;

struct Collecte {
    bool active = false;
    ChunkHandler done = nullptr;
    double start = 0.0;      // Timer() of the first byte's moment
    int bytesRead = 0;       // NULs included: each takes its millisecond
    int count = 0;           // bytes kept
    int delayedCall = 0;     // the next look at the buffer, 0 = none
    int nextChunkCall = 0;   // the start of the next chunk, 0 = none
    LossHandler lost = nullptr;  // the port hung up; called once all received is judged
    // Received and not yet taken into a chunk: a ring.
    unsigned char received[kReceivedCapacity];
    int head = 0;            // index of the oldest byte
    int size = 0;            // bytes in the ring
    char buffer[kLongestChunk + 1];
};

Collecte collectes[kComPortCount];  // by COM number; static, the receive path allocates nothing

bool portSuivi(int port)
{
    return port >= kFirstComPort && port <= kLastComPort;
}

// Moves every byte waiting in the port's queue into its ring. A port that
// reports an error (hung up, closed) gives nothing more; what the ring
// holds stays.
void recevoir(int port)
{
    Collecte &c = collectes[port];
    for (int waiting = GetInQLen(port); waiting > 0; --waiting) {
        const int byte = ComRdByte(port);
        if (byte < 0)
            return;
        if (c.size < kReceivedCapacity) {
            c.received[(c.head + c.size) % kReceivedCapacity] = static_cast<unsigned char>(byte);
            ++c.size;
        }  // else: overrun, the byte is lost
    }
}

int prendre(Collecte &c)
{
    const int byte = c.received[c.head];
    c.head = (c.head + 1) % kReceivedCapacity;
    --c.size;
    return byte;
}

void debut(int port, ChunkHandler done);
void lire(int port);

void chunkSuivant(void *portAsData)
{
    const int port = static_cast<int>(reinterpret_cast<std::intptr_t>(portAsData));
    if (!portSuivi(port))
        return;
    Collecte &c = collectes[port];
    c.nextChunkCall = 0;
    if (!c.active && c.done)
        debut(port, c.done);
}

// After a chunk has been handled: more received starts the next chunk (on
// the loop's next pass, as a port's callback would); nothing more, on a
// port that hung up, hands the loss on.
void apresChunk(int port)
{
    Collecte &c = collectes[port];
    if (c.active || c.nextChunkCall > 0)
        return;
    if (c.size > 0) {
        c.nextChunkCall = PostDelayedCall(0.0, chunkSuivant,
                                          reinterpret_cast<void *>(static_cast<std::intptr_t>(port)));
        if (c.nextChunkCall <= 0)
            c.nextChunkCall = 0;
        return;
    }
    if (LossHandler lost = c.lost) {
        c.lost = nullptr;
        lost(port);
    }
}

void finir(int port)
{
    Collecte &c = collectes[port];
    c.active = false;
    c.delayedCall = 0;
    c.buffer[c.count] = '\0';
    // Handled from a copy: a new chunk may start on this port meanwhile.
    char chunk[kLongestChunk + 1];
    for (int i = 0; i <= c.count; ++i)
        chunk[i] = c.buffer[i];
    c.done(port, chunk, c.count);
    // The handler may have closed the port (AbandonCollecte cleared it all).
    apresChunk(port);
}

void poursuivre(void *portAsData);

// Takes the bytes whose moment has come, then either ends the chunk or
// comes back at the next moment that can decide anything: the moment of
// the last byte already received, or of the byte that would fill the chunk.
void lire(int port)
{
    Collecte &c = collectes[port];
    recevoir(port);
    const double now = Timer();
    while (c.start + c.bytesRead * kPausePerByte <= now + kClockSlack) {
        if (c.count >= kLongestChunk || c.size == 0) {
            finir(port);
            return;
        }
        c.buffer[c.count] = static_cast<char>(prendre(c));
        if (c.buffer[c.count] != '\0')  // a NUL is dropped; the next byte takes its place
            ++c.count;
        ++c.bytesRead;
    }
    // The bytes already received will all be taken: nothing is decided
    // before the moment of the last of them, nor after the chunk could fill.
    int ahead = c.size;
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

void debut(int port, ChunkHandler done)
{
    Collecte &c = collectes[port];
    c.active = true;
    c.done = done;
    c.start = Timer();
    c.bytesRead = 0;
    c.count = 0;
    c.delayedCall = 0;
    lire(port);
}

} // namespace

void DebutCollecte(int port, ChunkHandler done)
{
    if (!portSuivi(port) || !done)
        return;
    Collecte &c = collectes[port];
    if (c.active) {
        recevoir(port);  // the chunk's schedule takes them
        return;
    }
    if (c.nextChunkCall > 0) {
        CancelDelayedCall(c.nextChunkCall);
        c.nextChunkCall = 0;
    }
    debut(port, done);
}

void AbandonCollecte(int port)
{
    if (!portSuivi(port))
        return;
    Collecte &c = collectes[port];
    if (c.delayedCall > 0)
        CancelDelayedCall(c.delayedCall);
    if (c.nextChunkCall > 0)
        CancelDelayedCall(c.nextChunkCall);
    c.delayedCall = 0;
    c.nextChunkCall = 0;
    c.active = false;
    c.lost = nullptr;
    c.head = 0;
    c.size = 0;
}

bool CollecteEnCours(int port)
{
    return portSuivi(port) && (collectes[port].active || collectes[port].size > 0);
}

int OctetsRecusEnAttente(int port)
{
    return portSuivi(port) ? collectes[port].size : 0;
}

bool PerteApresCollecte(int port, LossHandler lost)
{
    if (!portSuivi(port) || !lost)
        return false;
    Collecte &c = collectes[port];
    recevoir(port);  // anything the line still gives
    if (!c.active && c.size == 0 && c.nextChunkCall == 0)
        return false;
    c.lost = lost;
    return true;
}
