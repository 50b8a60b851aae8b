#pragma once

// The worker's window operations are synchronous: each one is carried out on the thread
// that owns the window while the worker waits. The GUI thread itself never waits for the
// worker, so this cannot deadlock as long as the GUI thread keeps running its event loop.

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

namespace kelvane::ui::qt {

// Runs f on the thread of context and returns when it has run. Called on that thread
// already, f runs at once (a blocking queued call to one's own thread would deadlock).
template<class F>
void RunOnGuiThread(QObject *context, F &&f)
{
    if (QThread::currentThread() == context->thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

} // namespace kelvane::ui::qt
