// A serial device for tests: a pseudo-terminal whose slave the loader opens
// as a COM port and whose master the test holds as the camera's end.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

struct FakeDevice {
    int master = -1;
    QString path;

    FakeDevice()
    {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave);  // the loader holds the only slave descriptor: closing it shows as a hang-up here
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
    }
    ~FakeDevice() { unplug(); }
    FakeDevice(const FakeDevice &) = delete;
    FakeDevice &operator=(const FakeDevice &) = delete;

    bool valid() const { return master >= 0; }

    // Gives the device node to `group` with `mode`, as udev does for a USB
    // serial port (dialout, 0660). False when this user may not.
    bool giveTo(const char *group, mode_t mode) const
    {
        const ::group *g = ::getgrnam(group);
        const QByteArray node = path.toLocal8Bit();
        return g && ::chown(node.constData(), static_cast<uid_t>(-1), g->gr_gid) == 0
               && ::chmod(node.constData(), mode) == 0;
    }
    void unplug()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    bool send(const QByteArray &bytes) const
    {
        return ::write(master, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }

    // What the loader wrote so far (non-blocking).
    QByteArray drain() const
    {
        QByteArray all;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            all.append(buffer, static_cast<int>(n));
        }
        return all;
    }

    // The loader's side is closed: nobody holds the slave any more.
    bool hungUp() const
    {
        pollfd p{master, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
    }
};
