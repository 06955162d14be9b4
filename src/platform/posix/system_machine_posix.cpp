#include "platform/fake/fake_machine.h"

namespace kv::platform {

// Off Windows the tools see an empty Windows machine; commands that take
// registry exports or machine descriptions fill in their own.
Machine& SystemMachine() {
  static FakeMachine* machine = [] {
    auto* made = new FakeMachine();  // lives until exit, never destroyed early
    made->ids.UseSystemGuids(true);
    return made;
  }();
  return *machine;
}

}  // namespace kv::platform
