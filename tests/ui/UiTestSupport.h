#pragma once

// Helpers for the window tests: waiting on the event loop, scripting modal windows.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

namespace kelvane::test {

// Runs the event loop until pred holds; false if it never did within the (generous) limit.
inline bool WaitFor(const std::function<bool()> &pred, int limitMs = 60000)
{
    return QTest::qWaitFor(pred, limitMs);
}

// Restores a static hook when the test ends.
template<class Hook>
class ScopedHook
{
public:
    ScopedHook(Hook &hook, Hook value) : hook_(hook), saved_(hook) { hook_ = std::move(value); }
    ~ScopedHook() { hook_ = saved_; }
    ScopedHook(const ScopedHook &) = delete;
    ScopedHook &operator=(const ScopedHook &) = delete;

private:
    Hook &hook_;
    Hook saved_;
};

// Once a modal window opens, hands it to act (which should close it). Polls the event
// loop, so it also works for windows opened inside nested event loops.
class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> act) : act_(std::move(act))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal != nullptr && modal != ignore_ && !busy_) {
                busy_ = true;
                ++seen_;
                act_(modal);
                busy_ = false;
            }
        });
        timer_.start(10);
    }
    // A modal window already open before the watcher (the main dialog under exec).
    void Ignore(QWidget *w) { ignore_ = w; }
    int Seen() const { return seen_; }

private:
    std::function<void(QWidget *)> act_;
    QTimer timer_;
    QWidget *ignore_ = nullptr;
    bool busy_ = false;
    int seen_ = 0;
};

} // namespace kelvane::test
