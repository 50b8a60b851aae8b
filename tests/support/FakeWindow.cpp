#include "tests/support/FakeWindow.h"

#include <algorithm>

namespace kelvane::test {

std::vector<std::string> FakeWindow::ProgressOperations() const
{
    static const char *const kProgress[] = {"SetRange", "SetStep", "StepIt", "GetPos", "SetPos"};
    std::vector<std::string> result;
    for (const std::string &op : operations_) {
        for (const char *name : kProgress) {
            if (op.rfind(name, 0) == 0) {
                result.push_back(op);
                break;
            }
        }
    }
    return result;
}

std::vector<std::string> FakeWindow::MessageCaptions() const
{
    std::vector<std::string> captions;
    for (const auto &message : messages_)
        captions.push_back(message.first);
    return captions;
}

void FakeWindow::StopAfter(std::string prefix, int n)
{
    stopPrefix_ = std::move(prefix);
    stopCountdown_ = n;
}

void FakeWindow::Record(std::string operation)
{
    operations_.push_back(operation);
    if (stopCountdown_ > 0 && operation.rfind(stopPrefix_, 0) == 0 && --stopCountdown_ == 0)
        stopRequested_ = true;
    if (hook_)
        hook_(operation);
}

int FakeWindow::Clamp(long long pos) const
{
    return static_cast<int>(std::max<long long>(lower_, std::min<long long>(upper_, pos)));
}

void FakeWindow::StopAnimation()
{
    Record("StopAnimation");
}

void FakeWindow::CloseAnimation()
{
    Record("CloseAnimation");
}

void FakeWindow::RepaintAnimation()
{
    Record("RepaintAnimation");
}

void FakeWindow::SetStartCaption(const std::string &caption)
{
    caption_ = caption;
    Record("Caption " + caption);
}

void FakeWindow::ShowMessage(const std::string &text, const std::string &caption)
{
    messages_.emplace_back(caption, text);
    Record("Message " + caption + "|" + text);
}

JobSettings FakeWindow::CurrentSettings()
{
    runningAtSettings_ = running_.load();
    JobSettings copy = settings; // a hook may change the window's settings from here on
    Record("Settings");
    return copy;
}

void FakeWindow::SetRunStamp(const std::string &stamp)
{
    stamp_ = stamp;
    Record("Stamp " + stamp);
}

void FakeWindow::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = std::max(lower, upper);
    position_ = Clamp(position_);
    Record("SetRange " + std::to_string(lower) + " " + std::to_string(upper));
}

void FakeWindow::SetStep(int step)
{
    step_ = step;
    Record("SetStep " + std::to_string(step));
}

void FakeWindow::StepIt()
{
    position_ = Clamp(static_cast<long long>(position_) + step_);
    Record("StepIt");
}

int FakeWindow::GetPos()
{
    Record("GetPos -> " + std::to_string(position_));
    return position_;
}

void FakeWindow::SetPos(int pos)
{
    position_ = Clamp(pos);
    Record("SetPos " + std::to_string(pos));
}

} // namespace kelvane::test
