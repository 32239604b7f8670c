// Timer control.
#include "timer_control.h"

#include <cmath>

namespace platform {

TimerControl::TimerControl(QWidget *parent) : QWidget(parent)
{
    setVisible(false);
    // Ticks are counted to measure seconds; a coarse timer would drift.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &TimerControl::ticked);
}

void TimerControl::setInterval(double seconds)
{
    if (!(seconds > 0.0))
        seconds = 0.001;  // a zero or negative interval would spin the event loop
    interval_ = seconds;
    const double ms = std::round(qMin(seconds, 2.0e6) * 1000.0);  // stays within int
    timer_.setInterval(qMax(1, static_cast<int>(ms)));
}

void TimerControl::setTimerEnabled(bool enabled)
{
    if (enabled == timer_.isActive())
        return;
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}

void TimerControl::restart()
{
    if (timer_.isActive())
        timer_.start();
}

} // namespace platform
