#pragma once

// The data exchange between the job settings and the controls that show them: which
// control shows which field, for both windows. An edit the user did not touch gives back
// the very bytes it was given, also where the toolkit's text could not hold them.

#include "settings/JobSettings.h"

#include <cstddef>
#include <string>

namespace kelvane::ui {

class SettingsExchange
{
public:
    // What the exchange needs of a window's controls, by control id.
    class Controls
    {
    public:
        virtual ~Controls() = default;
        virtual void SetText(int id, const std::string &text) = 0;
        // The edit's text as bytes; true when it still shows exactly `shown`.
        virtual bool ShowsText(int id, const std::string &shown) = 0;
        virtual std::string Text(int id) = 0;
        virtual void SetChecked(int id, bool checked) = 0;
        virtual bool Checked(int id) = 0;
    };

    // One for each edit of the exchange's table (SettingsExchange.cpp).
    static constexpr std::size_t kEdits = 3;

    void ToControls(const JobSettings &settings, Controls &controls);
    void FromControls(JobSettings &settings, Controls &controls) const;

private:
    std::string shown_[kEdits]; // the bytes last shown in each edit
};

} // namespace kelvane::ui
