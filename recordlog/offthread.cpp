#include "recordlog/offthread.h"

#include "common/error.h"

#include <QEventLoop>
#include <QThread>

#include <memory>
#include <optional>

namespace qf {

void runOffThread(const std::function<void()> &work)
{
    QEventLoop loop;
    std::optional<StationError> failure;
    std::unique_ptr<QThread> thread(QThread::create([&work, &failure] {
        try {
            work();
        } catch (const StationError &e) {
            failure = e;
        }
    }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    // The loop also ends when the application quits; the work still runs to
    // its end before this returns.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    if (failure)
        throw *failure;
}

} // namespace qf
