#pragma once
// "softList.xml": the software list as the data file holds it. The layout is
// fixed: root "KV", "SoftwareList" with the installed programs in list order
// followed by the removed ones, then "MgrState".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"
#include "service/software_info.h"
#include "store/xml_store.h"

namespace kv::service {

inline constexpr std::string_view kSoftwareListFile = "softList.xml";

struct SoftwareListContents {
  std::vector<SoftwarePtr> installed;  // VerInstalled present
  std::vector<SoftwarePtr> removed;    // VerInstalled empty
  std::int32_t registered_associations = 0;
  std::int32_t manager_state = 0;
  // Some program had no "rti": its run-time information must be merged again.
  bool rescan_needed = false;
};

// The whole document, header included.
std::string SoftwareListDocument(const SoftwareListContents& contents);

// Reads a parsed document: "SoftwareList" under "KV", or at the top when
// there is no "KV"; every child element is one program with the defaults for
// what it lacks. A UserRating outside 0 to 5 reads as 0; a removed program's
// inventory version is emptied. `machine` splits the stored command lines.
SoftwareListContents ReadSoftwareList(const store::XmlDocument& document,
                                      platform::Machine& machine);

}  // namespace kv::service
