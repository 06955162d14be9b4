#include "service/software_info.h"

namespace kv::service {

std::uint32_t PendingBitOf(std::uint32_t flag_bit) {
  switch (flag_bit) {
    case flag::kNotifyComments: return state::kNewComments;
    case flag::kNotifyQuestions: return state::kNewQuestions;
    case flag::kNotifyFourth: return state::kFourthPending;
    case flag::kNotifyVersions: return state::kNewVersion;
    default: return 0;
  }
}

void SoftwareInfo::SetFlag(std::uint32_t bit, bool on) {
  if (on) Flags |= bit;
  else Flags &= ~bit;
  State &= ~PendingBitOf(bit);
}

void SoftwareInfo::ToggleFlag(std::uint32_t bit) { SetFlag(bit, (Flags & bit) == 0); }

}  // namespace kv::service
