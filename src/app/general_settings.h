#pragma once
// The General settings dialog without its window: what it shows when it
// opens and what OK does, so the dialog itself only draws and forwards.
#include <functional>
#include <string>
#include <vector>

#include "app/activity_log.h"
#include "app/settings.h"
#include "app/shell_actions.h"

namespace kv::app {

struct IntervalChoice {
  const char* text;
  int seconds;
};

// The ten choices of the interval list, in order.
const std::vector<IntervalChoice>& IntervalChoices();

// Index of the first choice whose seconds are at least `stored`; the last
// choice when every choice is shorter.
int IntervalChoiceFor(int stored);

class GeneralSettingsPresenter {
 public:
  struct State {
    bool launch_at_startup = false;
    bool autocheck = false;
    int interval_index = 0;
    bool ignore_beta = false;
    bool operator==(const State&) const = default;
  };

  GeneralSettingsPresenter(Settings& settings, AutorunEntry& autorun, ActivityLog& log,
                           std::function<void()> rearm_scheduler)
      : settings_(settings), autorun_(autorun), log_(log), rearm_(std::move(rearm_scheduler)) {}

  State Open() const;
  // Stores the dialog's state, logging what the user changed.
  void Ok(const State& state);
  void Cancel() {}

 private:
  Settings& settings_;
  AutorunEntry& autorun_;
  ActivityLog& log_;
  std::function<void()> rearm_;
};

}  // namespace kv::app
