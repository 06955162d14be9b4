#include "app/general_settings.h"

#include "app/log_messages.h"

namespace kv::app {

const std::vector<IntervalChoice>& IntervalChoices() {
  static const std::vector<IntervalChoice> choices = {
      {"30 minutes", 1800}, {"Hour", 3600},     {"5 hours", 18000},  {"10 hours", 36000},
      {"Day", 86400},       {"3 days", 259200}, {"Week", 604800},    {"3 weeks", 1814400},
      {"Month", 2678400},   {"3 months", 8035200},
  };
  return choices;
}

int IntervalChoiceFor(int stored) {
  const auto& choices = IntervalChoices();
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (choices[i].seconds >= stored) return static_cast<int>(i);
  // Longer than every choice (set outside the dialog): show the longest.
  return static_cast<int>(choices.size()) - 1;
}

GeneralSettingsPresenter::State GeneralSettingsPresenter::Open() const {
  State s;
  const int interval = settings_.UpdatesCommentsEtcAutocheckInterval();
  s.launch_at_startup = autorun_.Exists();
  s.autocheck = interval != kAutocheckOff;
  s.interval_index = IntervalChoiceFor(interval);
  s.ignore_beta = settings_.IgnoreBetaVersions();
  return s;
}

void GeneralSettingsPresenter::Ok(const State& state) {
  if (state.launch_at_startup != autorun_.Exists())
    log_.Write(msg::kSwitchedAutorun, state.launch_at_startup ? "on" : "off");
  autorun_.Write(state.launch_at_startup);

  const int stored = settings_.UpdatesCommentsEtcAutocheckInterval();
  if (state.autocheck) {
    const auto& choices = IntervalChoices();
    const int index = state.interval_index < 0 ? 0
                      : state.interval_index >= static_cast<int>(choices.size())
                          ? static_cast<int>(choices.size()) - 1
                          : state.interval_index;
    const IntervalChoice& choice = choices[static_cast<std::size_t>(index)];
    if (choice.seconds != stored) log_.Write(msg::kChangedInterval, choice.text);
    settings_.SetUpdatesCommentsEtcAutocheckInterval(choice.seconds);
  } else {
    if (stored != kAutocheckOff) log_.Write(msg::kDisabledAutoUpdates);
    settings_.SetUpdatesCommentsEtcAutocheckInterval(kAutocheckOff);
  }

  if (state.ignore_beta != settings_.IgnoreBetaVersions())
    log_.Write(msg::kBetaNotification, state.ignore_beta ? "disabled" : "enabled");
  settings_.SetIgnoreBetaVersions(state.ignore_beta);

  if (rearm_) rearm_();
}

}  // namespace kv::app
