// A camera in bootloader mode played by the test on a pseudo-terminal: once
// told to announce, it repeats its banner every 100 ms until it hears
// "START", as a real one does, and keeps everything the loader wrote. It
// runs on Qt timers, so it goes on while a popup's event loop runs.
#pragma once

#include "fake_device.h"

#include <QByteArray>
#include <QTimer>

struct ScriptedCamera {
    FakeDevice line;
    QByteArray heard;       // every byte the loader wrote, in order
    bool announcing = false;
    QByteArray banner = "\r\nBootloader v2.10 - RZ4417\r\n";
    QTimer timer;

    ScriptedCamera()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start(100);
    }

    void poll()
    {
        heard += line.drain();
        if (announcing && !heard.contains("START"))
            line.send(banner);
    }

    // What the loader wrote, read now.
    const QByteArray &heardNow()
    {
        heard += line.drain();
        return heard;
    }
};
