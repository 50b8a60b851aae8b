#include "ui/core/SettingsExchange.h"

#include "resources/Resources.h"

#include <cstddef>
#include <cstdint>

namespace kelvane::ui {

namespace {

struct TextField
{
    int id;
    std::string JobSettings::*field;
};

struct SwitchField
{
    int id;
    std::int32_t JobSettings::*field;
};

constexpr TextField kTexts[] = {
    {res::IDC_FILE_MASK, &JobSettings::fileMask},
    {res::IDC_SOURCE_FOLDER, &JobSettings::sourceFolder},
    {res::IDC_TARGET_FOLDER, &JobSettings::targetFolder},
};

static_assert(std::size(kTexts) == SettingsExchange::kEdits, "one shown text for each edit");

constexpr SwitchField kSwitches[] = {
    {res::IDC_CREATE_SUB_FOLDER, &JobSettings::createSubFolder},
    {res::IDC_KEEP_INDIVIDUAL, &JobSettings::keepIndividual},
    {res::IDC_USE_TIMESTAMPS, &JobSettings::useTimestamps},
    {res::IDC_SKIP_CONFLICTS, &JobSettings::skipConflicts},
    {res::IDC_STORE_PATH_IN_ZIP, &JobSettings::storePathInZip},
};

} // namespace

void SettingsExchange::ToControls(const JobSettings &settings, Controls &controls)
{
    for (std::size_t i = 0; i < std::size(kTexts); ++i) {
        shown_[i] = settings.*kTexts[i].field;
        controls.SetText(kTexts[i].id, shown_[i]);
    }
    for (const SwitchField &s : kSwitches)
        controls.SetChecked(s.id, settings.*s.field != 0);
}

void SettingsExchange::FromControls(JobSettings &settings, Controls &controls) const
{
    for (std::size_t i = 0; i < std::size(kTexts); ++i) {
        const int id = kTexts[i].id;
        settings.*kTexts[i].field
            = controls.ShowsText(id, shown_[i]) ? shown_[i] : controls.Text(id);
    }
    for (const SwitchField &s : kSwitches)
        settings.*s.field = controls.Checked(s.id) ? 1 : 0;
}

} // namespace kelvane::ui
