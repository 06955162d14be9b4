#pragma once
// What the report says about the client and the system it runs on.
#include <string>

#include "inventory/system_folders.h"
#include "platform/machine.h"
#include "store/xml_writer.h"

namespace kv::service {

struct ReportEnvironment {
  std::string client_version;  // the client's own ProductVersion
  std::string client_build;    // as the identity fields send it
  // The version resource of the system's notepad.exe stands for Windows.
  std::string os_name;
  std::string os_version;
  std::string os_company;
  std::string locale_id;  // "0409"
  std::string language;   // "ENU"
  inventory::SystemFolders folders;
};

// Reads it from the running client and the machine.
ReportEnvironment ReadReportEnvironment(platform::Machine& machine);

// The `OSInfo` block of the documents sent to the service, at the root's level.
void WriteOsInfo(store::XmlWriter& w, const ReportEnvironment& env);

}  // namespace kv::service
