// The store loader and the field readers on arbitrary bytes: nothing may
// crash; every text read is valid UTF-8 and survives a write and a re-read
// unchanged; the number readers agree with the C library where C saturates.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/data_folder.h"
#include "platform/fake/fake_machine.h"
#include "store/xml_store.h"
#include "store/xml_text.h"
#include "text/utf8.h"

using namespace kv::store;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckNumbers(const std::string& text) {
  const long long c64 = std::strtoll(text.c_str(), nullptr, 10);
  Check(XmlTextToInt64(text) == c64);
  const long long c32 = c64 < INT32_MIN ? INT32_MIN : c64 > INT32_MAX ? INT32_MAX : c64;
  Check(XmlTextToInt32(text) == c32);
  if (text.find('-') == std::string::npos) {
    const unsigned long long u64 = std::strtoull(text.c_str(), nullptr, 10);
    Check(XmlTextToUInt64(text) == u64);
    Check(XmlTextToUInt32(text) == (u64 > UINT32_MAX ? UINT32_MAX : u64));
  }
}

struct Read {
  std::string text;
  std::vector<std::string> attributes;
};

// Reads every element below `root` without recursion, as a store would.
std::vector<Read> ReadAll(const XmlElement& root) {
  std::vector<Read> out;
  std::vector<XmlElement> pending{root};
  while (!pending.empty() && out.size() < 2000) {
    const XmlElement e = pending.back();
    pending.pop_back();
    Read r{e.Text(), {}};
    Check(kv::text::IsValidUtf8(r.text));
    e.Int32(), e.UInt32(), e.Int64(), e.UInt64(), e.Bool();
    for (const char* name : {"Name", "LastWriteTime", "Date"}) {
      if (auto a = e.Attribute(name)) r.attributes.push_back(*a);
      if (auto a = e.AttributeNoCase(name)) Check(kv::text::IsValidUtf8(*a));
    }
    std::string s;
    std::uint32_t u = 0;
    bool b = false;
    int nested = 0;
    ReadFields(e, {{"Name", &s}, {"Flags", &u}, {"Hidden", &b},
                   {"SoftwareInfo", [&](const XmlElement&) { ++nested; }}});
    e.Find("SoftwareList/SoftwareInfo"), e.Find(".."), e.Find("");
    for (XmlElement child : e.Children()) pending.push_back(child);
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  CheckNumbers(std::string(input.substr(0, 64)));

  static kv::platform::FakeMachine machine;
  static kv::app::DataFolder folder(machine.machine);
  static const std::string path = folder.GetDataFilePath("fuzz.xml");
  machine.files.AddFile(path, input);
  const auto doc = LoadStore(folder, "fuzz.xml");
  if (!doc) return 0;
  doc->Find("KV/SoftwareList");
  const std::vector<Read> reads = ReadAll(doc->Root());

  // What was read is written and read back unchanged.
  XmlWriter w;
  w.Open("", "KV");
  for (const Read& r : reads) {
    w.Text(" ", "Value", r.text);
    for (const std::string& a : r.attributes) w.Text(" ", "Attr", "", {{"Name", a}});
  }
  w.Close("", "KV");
  const auto again = XmlDocument::Parse(w.str());
  Check(again.has_value());
  auto it = again->Root().Children().begin();
  for (const Read& r : reads) {
    Check((*it).Text() == r.text);
    ++it;
    for (const std::string& a : r.attributes) {
      Check((*it).Attribute("Name") == a);
      ++it;
    }
  }
  Check(it == again->Root().Children().end());
  return 0;
}
