#pragma once
#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <utility>

// Runs blocking work (an HTTP exchange) on the global pool and hands its result to done() on the
// main thread, unless the receiver has been destroyed meanwhile.
template <typename Receiver, typename Work, typename Done>
void runAsync(Receiver *receiver, Work work, Done done)
{
    QPointer<Receiver> guard(receiver);
    QThreadPool::globalInstance()->start(
        [guard = std::move(guard), work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            QCoreApplication *app = QCoreApplication::instance();
            if (!app)
                return;
            QMetaObject::invokeMethod(
                app,
                [guard = std::move(guard), done = std::move(done), result = std::move(result)]() mutable {
                    if (guard)
                        done(std::move(result));
                },
                Qt::QueuedConnection);
        });
}
