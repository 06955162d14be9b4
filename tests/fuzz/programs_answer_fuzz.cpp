// The `Programs` answer applied to a software list of three programs, on
// arbitrary attribute soup. Nothing may crash, and what the answer sets
// must stay within what the list allows: ratings 0 to 5, page addresses
// that are http(s) addresses without blanks or quotes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/fake/fake_machine.h"
#include "service/software_list_store.h"

using namespace kv;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool SafePage(const std::string& url) {
  if (url.empty()) return true;
  if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0 &&
      url.rfind("HTTP", 0) != 0 && url.rfind("Http", 0) != 0)
    return false;
  return url.find_first_of(" \"\t\r\n<>\\`") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::FakeMachine m;
  app::DataFolder folder(m.machine);
  app::ProgressRange range;
  app::ProgressTracker progress(range);
  service::SoftwareListStore store(m.machine, folder, progress);
  for (const char* id : {"Foo", "Bar", "Baz"}) {
    const std::string key = std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + id;
    m.registry.Write(platform::RootKey::LocalMachine, key, "DisplayName", platform::RegValue::String(id)).IgnoreError();
    m.registry.Write(platform::RootKey::LocalMachine, key, "DisplayVersion",
                     platform::RegValue::String("1.0")).IgnoreError();
    m.registry.Write(platform::RootKey::LocalMachine, key, "UninstallString",
                     platform::RegValue::String("C:\\u.exe")).IgnoreError();
  }
  m.files.AddFile("C:\\u.exe", "MZ");
  store.Refresh();
  if (store.Count() > 0) store.At(0)->GlobalId = "1";

  const std::string text = "<Programs>" + std::string(reinterpret_cast<const char*>(data), size) +
                           "</Programs>";
  auto doc = store::XmlDocument::Parse(text);
  if (!doc) return 0;
  store.ApplyProgramsAnswer(doc->Root(), {"kv.test", static_cast<bool>(size & 1)});
  for (std::size_t i = 0; i < store.Count(); ++i) {
    const service::SoftwarePtr p = store.At(i);
    Check(p->UserRating >= 0 && p->UserRating <= 5);
    Check(p->UserRatingOnServer >= 0 && p->UserRatingOnServer <= 5);
    for (const std::string* url : {&p->ProgUrl, &p->CommentsUrl, &p->UsersUrl, &p->QuestionsUrl,
                                   &p->PublisherUrl})
      Check(SafePage(*url));
  }
  store.BuildReport({});
  return 0;
}
