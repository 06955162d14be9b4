#include "inventory/association_scanner.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/fake/fake_machine.h"

namespace kv::inventory {
namespace {

using platform::RegValue;
using platform::RootKey;

constexpr const char* kEditor = "C:\\Apps\\Editor\\edit.exe";
constexpr const char* kViewer = "C:\\Apps\\Viewer\\view.exe";
constexpr const char* kOther = "C:\\Other\\other.exe";  // installed, but not a known program
constexpr const char* kUserClasses = "Software\\Classes\\";
constexpr const char* kAppPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

std::string Quoted(const char* exe) { return std::string("\"") + exe + "\" \"%1\""; }

class AssociationScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* exe : {kEditor, kViewer, kOther}) m.files.AddFile(exe, "MZ");
  }
  void Set(RootKey root, const std::string& path, const std::string& name, RegValue value) {
    ASSERT_TRUE(m.registry.Write(root, path, name, value)) << path;
  }
  void Set(RootKey root, const std::string& path, const std::string& name,
           const std::string& text) {
    Set(root, path, name, RegValue::String(text));
  }
  // A program identifier (or application key) at `path` with its verbs' commands.
  void Verbs(RootKey root, const std::string& path, const std::map<std::string, std::string>& verbs,
             const std::string& description = "", const std::string& default_verb = "") {
    if (!description.empty()) Set(root, path, "", description);
    if (!default_verb.empty()) Set(root, path + "\\shell", "", default_verb);
    for (const auto& [verb, command] : verbs)
      Set(root, path + "\\shell\\" + verb + "\\command", "", command);
  }
  const ExtensionEntry* Find(const std::string& extension) {
    for (const ExtensionEntry& e : scanner.entries())
      if (e.Extension == extension) return &e;
    return nullptr;
  }
  static AssociationHandler H(bool is_default, std::string verb, std::string description,
                              const char* exe, std::size_t program, std::string args = "\"%1\"") {
    return {is_default, std::move(verb), std::move(description), CommandLine{exe, std::move(args)},
            program};
  }

  platform::FakeMachine m;
  // Index 1 stands for a program without an executable; the paths are
  // matched without regard to case.
  AssociationScanner scanner{m.machine, {"c:\\apps\\editor\\EDIT.exe", "", kViewer}};
};

TEST_F(AssociationScannerTest, ProgramIdentifiersGiveTheKnownProgramsVerbs) {
  Set(RootKey::ClassesRoot, ".txt", "", "txtfile");
  Verbs(RootKey::ClassesRoot, "txtfile",
        {{"open", Quoted("C:\\APPS\\editor\\EDIT.EXE")}, {"print", Quoted(kOther)},
         {"edit", Quoted(kEditor)}, {"broken", "\"C:\\Apps\\Editor\\edit.exe"}},
        "Text Document", "Edit");
  // Default verb "open" when the shell key names none; the command may need expanding.
  m.shell.SetEnvironment("AppsDir", "C:\\Apps");
  Set(RootKey::ClassesRoot, ".png", "", "pngfile");
  Set(RootKey::ClassesRoot, "pngfile\\shell\\open\\command", "",
      RegValue::Expand("\"%AppsDir%\\Viewer\\view.exe\" \"%1\""));
  Verbs(RootKey::ClassesRoot, "pngfile", {{"edit", Quoted(kEditor)}});
  // Only an unknown program opens these: no entry.
  Set(RootKey::ClassesRoot, ".zzz", "", "zzzfile");
  Verbs(RootKey::ClassesRoot, "zzzfile", {{"open", Quoted(kOther)}});
  // Offered as "xyzfile", the default "XyzFile" is not added again, and
  // marks the default in any spelling (key names ignore case).
  Set(RootKey::ClassesRoot, ".xyz", "", "XyzFile");
  Set(RootKey::ClassesRoot, ".xyz\\OpenWithProgids", "xyzfile", "");
  Verbs(RootKey::ClassesRoot, "xyzfile", {{"open", Quoted(kViewer)}});
  // Not an extension.
  Verbs(RootKey::ClassesRoot, "txt", {{"open", Quoted(kEditor)}});

  scanner.Scan();
  ASSERT_EQ(scanner.Count(), 3u);
  const ExtensionEntry* txt = Find("txt");
  ASSERT_NE(txt, nullptr);
  // The subkeys in registry order (alphabetical in the fake).
  EXPECT_EQ(txt->Handlers, (std::vector<AssociationHandler>{
                               H(true, "edit", "Text Document", kEditor, 0),
                               H(false, "open", "Text Document", kEditor, 0),
                           }));
  const ExtensionEntry* png = Find("png");
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(png->Handlers, (std::vector<AssociationHandler>{H(false, "edit", "", kEditor, 0),
                                                            H(true, "open", "", kViewer, 2)}));
  const ExtensionEntry* xyz = Find("xyz");
  ASSERT_NE(xyz, nullptr);
  EXPECT_EQ(xyz->Handlers, (std::vector<AssociationHandler>{H(true, "open", "", kViewer, 2)}));
  EXPECT_EQ(Find("zzz"), nullptr);
}

TEST_F(AssociationScannerTest, PerUserAndMachineWideRegistrationsMergeIntoOneEntry) {
  const std::string user = kUserClasses;
  // Per user: "userlog" is only offered, and lives per user.
  Set(RootKey::CurrentUser, user + ".Log\\OpenWithProgids", "userlog", "");
  Verbs(RootKey::CurrentUser, user + "userlog",
        {{"open", Quoted(kEditor)}, {"Edit", Quoted(kEditor)}});
  // Machine-wide: the default program, with the same program and verbs.
  Set(RootKey::ClassesRoot, ".log", "", "logfile");
  Verbs(RootKey::ClassesRoot, "logfile", {{"open", Quoted(kEditor)}, {"edit", Quoted(kEditor)}},
        "Log File");
  // A per-user identifier missing per user is looked up machine-wide.
  Set(RootKey::CurrentUser, user + ".md", "", "mdfile");
  Verbs(RootKey::ClassesRoot, "mdfile", {{"view", Quoted(kViewer)}}, "Markdown", "view");

  scanner.Scan();
  ASSERT_EQ(scanner.Count(), 2u);
  EXPECT_EQ(scanner.At(0).Extension, "Log");  // as the first key spells it
  // The per-user "open" takes the machine-wide description and default mark;
  // verbs differing only in case are one (the per-user spelling kept).
  EXPECT_EQ(scanner.At(0).Handlers,
            (std::vector<AssociationHandler>{H(false, "Edit", "Log File", kEditor, 0),
                                             H(true, "open", "Log File", kEditor, 0)}));
  EXPECT_EQ(scanner.At(1).Extension, "md");
  EXPECT_EQ(scanner.At(1).Handlers,
            (std::vector<AssociationHandler>{H(true, "view", "Markdown", kViewer, 2)}));

  // A second scan starts over.
  scanner.Scan();
  EXPECT_EQ(scanner.Count(), 2u);
  EXPECT_EQ(scanner.At(0).Handlers.size(), 2u);
}

TEST_F(AssociationScannerTest, AutoFileIdentifiersAreNoDefaultAndNotOffered) {
  // A made-up "open with" identifier is no default program...
  Set(RootKey::ClassesRoot, ".abc", "", "abc_Auto_File");
  Verbs(RootKey::ClassesRoot, "abc_Auto_File", {{"open", Quoted(kEditor)}});
  // ... nor offered, but the other identifiers are.
  Set(RootKey::ClassesRoot, ".abc\\OpenWithProgids", "x_AUTO_FILE", "");
  Set(RootKey::ClassesRoot, ".abc\\OpenWithProgids", "abcview", "");
  Set(RootKey::ClassesRoot, ".abc\\OpenWithProgids", "", "ignored");
  Verbs(RootKey::ClassesRoot, "x_AUTO_FILE", {{"open", Quoted(kEditor)}});
  Verbs(RootKey::ClassesRoot, "abcview", {{"open", Quoted(kViewer)}});
  Verbs(RootKey::ClassesRoot, "ignored", {{"open", Quoted(kEditor)}});
  // "_auto_file" alone is an identifier like any other.
  Set(RootKey::ClassesRoot, ".def", "", "_auto_file");
  Verbs(RootKey::ClassesRoot, "_auto_file", {{"open", Quoted(kEditor)}});

  scanner.Scan();
  ASSERT_EQ(scanner.Count(), 2u);
  EXPECT_EQ(scanner.At(0).Extension, "abc");
  EXPECT_EQ(scanner.At(0).Handlers,
            (std::vector<AssociationHandler>{H(false, "open", "", kViewer, 2)}));
  EXPECT_EQ(scanner.At(1).Extension, "def");
  EXPECT_EQ(scanner.At(1).Handlers,
            (std::vector<AssociationHandler>{H(true, "open", "", kEditor, 0)}));
}

TEST_F(AssociationScannerTest, OpenWithApplicationsByTheirOwnVerbsOrTheirApplicationPath) {
  const std::string app_paths = kAppPaths;
  Set(RootKey::LocalMachine, app_paths + "Edit.exe", "", kEditor);
  Set(RootKey::LocalMachine, app_paths + "blocked.exe", "", kEditor);
  Set(RootKey::LocalMachine, app_paths + "NoDefault.exe", "Path", "C:\\Apps");
  Verbs(RootKey::ClassesRoot, "Applications\\view.exe", {{"open", Quoted(kViewer)}});

  const std::string list = ".dat\\OpenWithList\\";
  for (const char* app : {"edit.exe", "view.exe", "ghost.exe", "NoDefault.exe"})
    ASSERT_TRUE(m.registry.Create(RootKey::ClassesRoot, list + app));
  // Verbs of its own: the application path is not looked at.
  Verbs(RootKey::ClassesRoot, list + "custom.exe", {{"print", Quoted(kViewer)}}, "Custom");
  Verbs(RootKey::ClassesRoot, list + "blocked.exe", {{"open", Quoted(kOther)}});

  scanner.Scan();
  EXPECT_EQ(scanner.app_paths().size(), 3u);  // NoDefault.exe has no command
  EXPECT_EQ(scanner.LookupAppPath("EDIT.EXE"), 1);
  EXPECT_EQ(scanner.LookupAppPath("view.exe"), 2);
  EXPECT_EQ(scanner.LookupAppPath("ghost.exe"), -1);
  ASSERT_EQ(scanner.Count(), 1u);
  EXPECT_EQ(scanner.At(0).Extension, "dat");
  EXPECT_EQ(scanner.At(0).Handlers,
            (std::vector<AssociationHandler>{H(false, "print", "Custom", kViewer, 2),
                                             H(false, "open", "", kEditor, 0, ""),
                                             H(false, "open", "", kViewer, 2)}));

  // The application paths are read once.
  Set(RootKey::LocalMachine, app_paths + "late.exe", "", kViewer);
  scanner.Scan();
  EXPECT_EQ(scanner.LookupAppPath("late.exe"), -1);
}

TEST_F(AssociationScannerTest, ApplicationsAreNotReadWithoutAppPaths) {
  Verbs(RootKey::ClassesRoot, "Applications\\view.exe", {{"open", Quoted(kViewer)}});
  ASSERT_TRUE(m.registry.Create(RootKey::ClassesRoot, ".dat\\OpenWithList\\view.exe"));
  scanner.Scan();
  EXPECT_TRUE(scanner.app_paths().empty());
  EXPECT_EQ(scanner.Count(), 0u);
}

TEST_F(AssociationScannerTest, KeysThatCannotBeOpenedAreSkipped) {
  for (const char* ext : {".aaa", ".bbb", ".ccc"}) {
    Set(RootKey::ClassesRoot, ext, "", "shared");
    Set(RootKey::CurrentUser, std::string(kUserClasses) + ext, "", "shared");
  }
  Verbs(RootKey::ClassesRoot, "shared", {{"open", Quoted(kEditor)}});
  m.registry.DenyOpen(RootKey::ClassesRoot, ".aaa");
  m.registry.DenyOpen(RootKey::CurrentUser, std::string(kUserClasses) + ".bbb");
  // The offered identifiers and applications of a machine-wide extension are
  // still read by a user who may not change them.
  Set(RootKey::ClassesRoot, ".ccc\\OpenWithProgids", "cccview", "");
  Verbs(RootKey::ClassesRoot, "cccview", {{"open", Quoted(kViewer)}});
  Verbs(RootKey::ClassesRoot, ".ccc\\OpenWithList\\view.exe", {{"show", Quoted(kViewer)}});
  m.registry.DenyOpen(RootKey::ClassesRoot, ".ccc\\OpenWithProgids", true);
  m.registry.DenyOpen(RootKey::ClassesRoot, ".ccc\\OpenWithList", true);

  scanner.Scan();
  std::vector<std::string> names;
  for (const ExtensionEntry& e : scanner.entries()) names.push_back(e.Extension);
  // .aaa per user, .bbb machine-wide.
  EXPECT_EQ(names, (std::vector<std::string>{"aaa", "ccc", "bbb"}));
  const ExtensionEntry* ccc = Find("ccc");
  ASSERT_NE(ccc, nullptr);
  EXPECT_EQ(ccc->Handlers, (std::vector<AssociationHandler>{H(true, "open", "", kEditor, 0),
                                                            H(false, "show", "", kViewer, 2),
                                                            H(false, "open", "", kViewer, 2)}));
}

}  // namespace
}  // namespace kv::inventory
