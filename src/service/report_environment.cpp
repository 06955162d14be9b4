#include "service/report_environment.h"

#include "inventory/file_version_info.h"
#include "inventory/version.h"
#include "service/requests.h"

namespace kv::service {

ReportEnvironment ReadReportEnvironment(platform::Machine& machine) {
  ReportEnvironment env;
  const inventory::FileVersionInfo& own = inventory::OwnFileVersionInfo(machine.shell);
  env.client_version = own.ProductVersion;
  env.client_build = OwnClientBuild(machine.shell);
  env.folders = inventory::ReadSystemFolders(machine.shell);

  std::string notepad = env.folders.windows + "system32\\notepad.exe";
  if (!machine.files.Exists(notepad)) notepad = env.folders.windows + "system\\notepad.exe";
  const inventory::FileVersionInfo os(machine.shell, notepad);
  env.os_name = os.ProductName;
  env.os_version = inventory::FormatVersion(os.FixedProductVersion);
  env.os_company = os.CompanyName;

  // Windows gives these in buffers of nine characters.
  const platform::UserLocale locale = machine.shell.UserDefaultLocale();
  env.locale_id = locale.language_id.substr(0, 9);
  env.language = locale.abbreviated_name.substr(0, 9);
  return env;
}

void WriteOsInfo(store::XmlWriter& w, const ReportEnvironment& env) {
  w.Open("", "OSInfo");
  w.Text(" ", "Name", env.os_name);
  w.Text(" ", "Version", env.os_version);
  w.Text(" ", "CompanyName", env.os_company);
  w.Text(" ", "LocaleId", env.locale_id);
  w.Text(" ", "AbbrevLangName", env.language);
  w.Open("  ", "SystemFolders");
  w.Text("   ", "OS", env.folders.windows);
  w.Text("   ", "Sys32", env.folders.system);
  w.Text("   ", "PF", env.folders.program_files);
  w.Close("  ", "SystemFolders");
  w.Close("", "OSInfo");
}

}  // namespace kv::service
