// Timer control: no picture on the panel, it ticks every `interval` seconds
// while enabled. It is disabled until the program enables it.
#pragma once

#include <QTimer>
#include <QWidget>

namespace platform {

class TimerControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(double interval READ interval WRITE setInterval)
    Q_PROPERTY(bool timerEnabled READ timerEnabled WRITE setTimerEnabled)

public:
    explicit TimerControl(QWidget *parent = nullptr);

    double interval() const { return interval_; }  // seconds
    void setInterval(double seconds);               // restarts a running count
    bool timerEnabled() const { return timer_.isActive(); }
    void setTimerEnabled(bool enabled);
    // Starts the current interval again from now (no effect while disabled).
    void restart();

signals:
    void ticked();

private:
    double interval_ = 1.0;
    QTimer timer_;
};

} // namespace platform
