#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <functional>

// Handles events until cond() holds or the deadline passes; returns cond().
inline bool waitFor(const std::function<bool()> &cond, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!cond() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return cond();
}
