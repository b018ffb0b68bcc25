// The round trip over generated profile pairs: the rules that derive writes for (before, after)
// pass check --strict, and migrating before with them gives an archive that diff finds equal to
// after. ORVEX_ROUND_TRIP_PAIRS (default 200) and ORVEX_ROUND_TRIP_SEED (default 1) set the run.
// The words derive writes one example pins; hand-made upgrade pairs show that the rules derived
// from one user give a second user that user's own upgrade.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "OrvexInspect/inspect_command.h"
#include "OrvexMigrate/migration_run.h"
#include "engine/engine.h"
#include "engine/testing/test_zip.h"
#include "platform/text.h"
#include "regfile/key_order.h"
#include "regfile/reg_writer.h"
#include "testing/image_files.h"
#include "testing/matchers.h"
#include "testing/temp_dir.h"
#include "testing/utf16_bytes.h"
#include "transforms/files/image_conversion.h"

namespace orvex {
namespace {

using testing::ScopedTempDir;
using testing::TestEntry;

constexpr int kShards = 4;
constexpr std::u16string_view kRoot = u"HKEY_CURRENT_USER\\Software";

std::size_t EnvNumber(const char* name, std::size_t fallback) {
  const char* text = std::getenv(name);
  return text == nullptr ? fallback : std::strtoull(text, nullptr, 10);
}

// A profile as the generator holds it: the keys of its one .reg file, and its files (a missing
// content marks an empty directory).
struct Model {
  std::vector<RegistryKeyEntry> keys;
  std::map<std::u16string, std::optional<std::string>> tree;
};

RegistryValueEntry TextValue(std::uint32_t type, std::u16string_view text) {
  RegistryValueEntry value{type, {}};
  for (const char16_t unit : text) {
    value.data.push_back(static_cast<std::uint8_t>(unit));
    value.data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  value.data.insert(value.data.end(), {0, 0});
  return value;
}

RegistryValueEntry DwordValue(std::uint32_t n) {
  return {REG_DWORD,
          {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
           static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)}};
}

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  Model Before() {
    Model model;
    model.keys.emplace_back(std::u16string(kImportMarkerKeyPath));
    (void)model.keys[0].values().AddValue(u"Pre", TextValue(REG_SZ, u"1"));
    (void)model.keys[0].values().AddValue(u"Post", TextValue(REG_SZ, u"1"));
    for (int i = Below(6) + 6; i > 0; --i) AddKey(&model);
    for (int i = Below(8) + 4; i > 0; --i) AddFile(&model);
    if (Below(2) == 0) model.tree[Folder(model) + u'/' + Name(u"Empty")] = std::nullopt;
    return model;
  }

  // One to eight random edits of every kind the rules know. A folder-token folder never vanishes
  // whole, as a user's never does: emptied, it stays.
  void Edit(Model* model) {
    std::set<std::u16string> token_folders;
    for (const auto& [path, content] : model->tree) {
      token_folders.insert(path.substr(0, path.find(u'/')));
    }
    for (int i = Below(8) + 1; i > 0; --i) {
      switch (Below(12)) {
        case 0:
          AddKey(model);
          break;
        case 1:
          RemoveKey(model);
          break;
        case 2:
          MoveKey(model, true);
          break;
        case 3:
          MoveKey(model, false);
          break;
        case 4:
          EditValue(model);
          break;
        case 5:
          EditValue(model);
          break;
        case 6:
          AddFile(model);
          break;
        case 7:
          RemoveFile(model);
          break;
        case 8:
          ChangeFile(model);
          break;
        case 9:
          MoveFile(model, Below(3) == 0);
          break;
        case 10:
          MoveFolder(model);
          break;
        default:
          model->tree[Folder(*model) + u'/' + Name(u"New")] = std::nullopt;
          break;
      }
    }
    for (const std::u16string& folder : token_folders) {
      const auto below = model->tree.lower_bound(folder);
      if (below == model->tree.end() ||
          (below->first != folder && !below->first.starts_with(folder + u'/'))) {
        model->tree[folder] = std::nullopt;
      }
    }
  }

 private:
  int Below(int n) { return static_cast<int>(random_() % static_cast<std::uint32_t>(n)); }

  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<std::size_t>(Below(static_cast<int>(items.size())))];
  }

  // Names are unique in the profile, whatever their letter case, so edits never collide.
  std::u16string Name(std::u16string_view stem) {
    static const std::vector<std::u16string> kWords = {u"Settings", u"Window",   u"Recent Files",
                                                       u"Café",     u"Plug-ins", u"Options"};
    return std::u16string(stem) + Pick(kWords) + u' ' + ToUtf16(std::to_string(++serial_));
  }

  RegistryValueEntry Value() {
    static const std::vector<std::u16string> kTexts = {
        u"C:\\Program Files\\Notes", u"say \"hi\"", u"tab\there", u"Zoë", u"", u"125"};
    switch (Below(5)) {
      case 0:
        return TextValue(REG_SZ, Pick(kTexts));
      case 1:
        return TextValue(REG_EXPAND_SZ, u"%APPDATA%\\" + Name(u""));
      case 2:
        return DwordValue(random_());
      case 3: {
        RegistryValueEntry value{REG_BINARY, {}};
        for (int i = Below(40) + 1; i > 0; --i)
          value.data.push_back(static_cast<std::uint8_t>(random_()));
        return value;
      }
      default: {
        RegistryValueEntry value = TextValue(REG_MULTI_SZ, Name(u"a"));
        value.data.pop_back();
        value.data.pop_back();
        const RegistryValueEntry second = TextValue(REG_MULTI_SZ, Pick(kTexts) + u"x");
        value.data.insert(value.data.end(), second.data.begin(), second.data.end());
        value.data.insert(value.data.end(), {0, 0});
        return value;
      }
    }
  }

  std::vector<std::u16string> KeyPaths(const Model& model) {
    std::vector<std::u16string> paths;
    for (std::size_t i = 1; i < model.keys.size(); ++i) paths.emplace_back(model.keys[i].path());
    return paths;
  }

  std::u16string Parent(const Model& model) {
    std::vector<std::u16string> parents = KeyPaths(model);
    parents.push_back(std::u16string(kRoot) + u"\\Larkspur");
    parents.push_back(std::u16string(kRoot) + u"\\Quenby Tools");
    return Pick(parents);
  }

  void AddKey(Model* model) {
    RegistryKeyEntry key(Parent(*model) + u'\\' + Name(u""));
    for (int i = Below(4); i > 0; --i) (void)key.values().AddValue(Name(u"v"), Value());
    model->keys.push_back(std::move(key));
  }

  void RemoveKey(Model* model) {
    if (model->keys.size() < 2) return;
    const std::u16string root = Pick(KeyPaths(*model));
    std::erase_if(model->keys,
                  [&](const RegistryKeyEntry& key) { return IsKeyAtOrBelow(key.path(), root); });
  }

  // A key tree renamed in place, or moved below another key.
  void MoveKey(Model* model, bool rename) {
    if (model->keys.size() < 2) return;
    const std::u16string from = Pick(KeyPaths(*model));
    std::u16string to = rename ? from.substr(0, from.rfind(u'\\')) : Parent(*model);
    if (IsKeyAtOrBelow(to, from)) return;
    to += u'\\' + Name(u"");
    for (RegistryKeyEntry& key : model->keys) {
      if (!IsKeyAtOrBelow(key.path(), from)) continue;
      RegistryKeyEntry copy(to + std::u16string(key.path().substr(from.size())));
      copy.values() = key.values();
      key = std::move(copy);
    }
  }

  void EditValue(Model* model) {
    if (model->keys.size() < 2) return;
    RegistryValueList& values =
        model->keys[1 + static_cast<std::size_t>(Below(static_cast<int>(model->keys.size()) - 1))]
            .values();
    if (values.empty() || Below(4) == 0) {
      (void)values.AddValue(Name(u"v"), Value());
      return;
    }
    const int index = Below(values.size());
    switch (Below(4)) {
      case 0:
        values.RemoveValueAt(index);
        break;
      case 1:
        values.SetValueAt(index, Value());
        break;
      case 2:
        values.RenameValueAt(index, Name(u"r"));
        break;
      default:
        values.RetypeValueAt(index, Pick(std::vector<std::uint32_t>{1, 2, 3, 4, 7}));
        break;
    }
  }

  std::u16string Folder(const Model& model) {
    std::vector<std::u16string> folders = {u"AppData", u"Desktop", u"Personal", u"LocalAppData"};
    for (const auto& [path, content] : model.tree) {
      folders.push_back(path.substr(0, path.rfind(u'/')));
    }
    std::u16string folder = Pick(folders);
    if (Below(3) == 0) folder += u'/' + Name(u"");
    return folder;
  }

  std::string Content() {
    std::string content;
    const bool text = Below(2) == 0;
    for (int i = Below(600); i > 0; --i) {
      content += text ? (Below(20) == 0 ? '\n' : static_cast<char>('a' + Below(26)))
                      : static_cast<char>(random_());
    }
    return content;
  }

  std::vector<std::u16string> Files(const Model& model) {
    std::vector<std::u16string> files;
    for (const auto& [path, content] : model.tree) {
      if (content) files.push_back(path);
    }
    return files;
  }

  void AddFile(Model* model) {
    model->tree[Folder(*model) + u'/' + Name(u"f") + (Below(2) ? u".txt" : u".bin")] = Content();
  }
  void RemoveFile(Model* model) {
    if (const auto files = Files(*model); !files.empty()) model->tree.erase(Pick(files));
  }
  void ChangeFile(Model* model) {
    if (const auto files = Files(*model); !files.empty()) model->tree[Pick(files)] = Content();
  }
  void MoveFile(Model* model, bool copy) {
    const auto files = Files(*model);
    if (files.empty()) return;
    const std::u16string from = Pick(files);
    model->tree[Folder(*model) + u'/' + Name(u"m")] = model->tree[from];
    if (!copy) model->tree.erase(from);
  }
  void MoveFolder(Model* model) {
    const auto files = Files(*model);
    if (files.empty()) return;
    const std::u16string file = Pick(files);
    const std::u16string from = file.substr(0, file.rfind(u'/'));
    if (from.find(u'/') == std::u16string::npos) return;  // folder-token folders stay
    const std::u16string to = from.substr(0, from.find(u'/')) + u'/' + Name(u"d");
    std::map<std::u16string, std::optional<std::string>> tree;
    for (auto& [path, content] : model->tree) {
      const bool inside = path.starts_with(from + u'/');
      tree[inside ? to + path.substr(from.size()) : path] = std::move(content);
    }
    model->tree = std::move(tree);
  }

  std::mt19937 random_;
  int serial_ = 0;
};

void WriteArchive(const Model& model, const ScopedTempDir& dir, const std::string& name) {
  RegistryDocument document;
  for (const RegistryKeyEntry& key : model.keys) document.AddKey(key);
  SortKeys(document);
  PlaceImportMarkers(document);
  const std::u16string reg_path = dir.wide(name + ".reg");
  ASSERT_TRUE(SUCCEEDED(ExportRegFile(document, reg_path)));
  std::vector<TestEntry> entries = {
      {"Registry/User.reg", TestEntry::kFile, testing::ReadFile(dir.path() / (name + ".reg"))}};
  for (const auto& [path, content] : model.tree) {
    entries.push_back({ToUtf8(path) + (content ? "" : "/"),
                       content ? TestEntry::kFile : TestEntry::kDirectory, content.value_or("")});
  }
  testing::WriteTestZip(dir.path() / (name + ".zip"), entries);
}

CommandOutput Inspect(std::initializer_list<std::u16string> words) {
  ArgumentList args = {u"OrvexInspect"};
  args.insert(args.end(), words);
  return RunInspectCommand(args);
}

class DeriveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    (void)platform::CoInitializeEx(nullptr, platform::COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(RegisterOrvexEngine()));
  }
};

class RoundTripTest : public DeriveTest, public ::testing::WithParamInterface<int> {};

// What derive writes for one small pair, byte for byte: a key renamed, a value changed, a folder
// moved, a file replaced by another, and what it leaves: a .reg file that only the first archive
// has, a top-level key and a folder-token folder that the second lacks.
TEST_F(DeriveTest, WritesTheRulesOfAnExample) {
  const auto reg = [](std::string_view body) {
    return testing::RegFileBytes(
        ToUtf16("Windows Registry Editor Version 5.00\r\n\r\n" + std::string(body)));
  };
  ScopedTempDir dir;
  testing::WriteTestZip(
      dir.path() / "before.zip",
      {{"Registry/User.reg", TestEntry::kFile,
        reg("[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"x\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Old]\r\n\"a\"=\"1\"\r\n\"b\"=dword:00000002\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"v\"=\"x\"\r\n\r\n")},
       {"Registry/Other.reg", TestEntry::kFile, reg("")},
       {"AppData/App/a.ini", TestEntry::kFile, "a"},
       {"AppData/App/b.ini", TestEntry::kFile, "b"},
       {"Desktop/old.txt", TestEntry::kFile, "o"},
       {"Personal/Old/x.txt", TestEntry::kFile, "x"}});
  testing::WriteTestZip(
      dir.path() / "after.zip",
      {{"Registry/User.reg", TestEntry::kFile,
        reg("[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"v\"=\"y\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\New]\r\n\"a\"=\"1\"\r\n\"b\"=dword:00000002\r\n\r\n")},
       {"AppData/App2/a.ini", TestEntry::kFile, "a"},
       {"AppData/App2/b.ini", TestEntry::kFile, "b"},
       {"Desktop/new.txt", TestEntry::kFile, "n"}});
  const CommandOutput derived = Inspect({u"derive", dir.wide("before.zip"), dir.wide("after.zip")});
  EXPECT_EQ(derived.exit_code, 1u) << "something the rules cannot express";
  EXPECT_EQ(ToUtf8(derived.err), "");
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!-- Derived by OrvexInspect: these rules turn '" +
      ToUtf8(dir.wide("before.zip")) + "' into '" + ToUtf8(dir.wide("after.zip")) + "'.\n";
  const char* const rules =
      "     What they cannot express:\n"
      "       Registry/Other.reg: only in the first archive; no rule removes a .reg file\n"
      "       Registry/User.reg: key 'HKEY_CURRENT_USER\\Environment' holds the settings of every "
      "application; the rules delete only what lies below it\n"
      "       Personal: the folder of a folder token, which holds what every application keeps "
      "there; the rules delete only what lies in it\n"
      "     What still differs after them:\n"
      "       Registry/Other.reg: the rules leave this .reg file, which the after profile lacks\n"
      "       Registry/User.reg: the rules leave key 'HKEY_CURRENT_USER\\Environment', which the "
      "after profile lacks\n"
      "       the rules leave folder 'Personal' (empty), which the after profile lacks\n"
      "-->\n"
      "<migration>\n"
      "  <registry>\n"
      "    <key action=\"rename\" source=\"HKEY_CURRENT_USER\\Software\\Old\" "
      "destination=\"HKEY_CURRENT_USER\\Software\\New\"/>\n"
      "    <!-- Carries the example's data: every profile gets it, whatever it held. -->\n"
      "    <value action=\"set\" key=\"HKEY_CURRENT_USER\\Software\\Keep\" source=\"v\" "
      "type=\"string\">y</value>\n"
      "  </registry>\n"
      "  <files>\n"
      "    <directory action=\"move\" source=\"AppData\\App\" destination=\"AppData\\App2\"/>\n"
      "    <file action=\"delete\" source=\"Desktop\\old.txt\"/>\n"
      "    <directory action=\"delete\" source=\"Personal\\Old\"/>\n"
      "    <!-- Carries the example's data: every profile gets it, whatever it held. -->\n"
      "    <file action=\"create\" source=\"Desktop\\new.txt\">\n"
      "      bg==\n"
      "    </file>\n"
      "  </files>\n"
      "</migration>\n";
  EXPECT_EQ(ToUtf8(derived.out), head + rules);
}

// What one user holds of the application in the upgrade pairs below.
struct User {
  std::uint32_t zoom;
  std::uint32_t font;  // its bytes are no text, as a string's would be
  std::u16string recent;
  std::string settings;
  int picture_width;
};

std::string Picture(const User& user) {
  return testing::Bmp24File(user.picture_width, 9, testing::GradientPicture(user.picture_width, 9));
}

// What this build's own conversion makes of the user's picture.
std::string ConvertedPicture(const User& user) {
  ScopedTempDir dir;
  testing::WriteFile(dir.path() / "picture.bmp", Picture(user));
  EXPECT_HR(S_OK, ConvertImage(dir.wide("picture.bmp"), dir.wide("picture.jpg")));
  return testing::ReadFile(dir.path() / "picture.jpg");
}

using NamedValues = std::initializer_list<std::pair<std::u16string_view, RegistryValueEntry>>;

RegistryKeyEntry Key(std::u16string_view path, NamedValues values) {
  RegistryKeyEntry key{u"HKEY_CURRENT_USER\\Software\\" + std::u16string(path)};
  for (const auto& [name, value] : values) (void)key.values().AddValue(name, value);
  return key;
}

// A vendor renamed, values moved to a subkey, a DWORD retyped as a string, the settings folder
// moved from AppData to LocalAppData, a template renamed, the wallpaper converted to JPEG.
Model VendorBefore(const User& u) {
  return {{Key(u"Quenby\\Notes", {{u"Zoom", DwordValue(u.zoom)},
                                  {u"Recent", TextValue(REG_SZ, u.recent)},
                                  {u"Font", DwordValue(u.font)}}),
           Key(u"Quenby\\Notes\\Plugins", {{u"Spell", DwordValue(1)}}),
           Key(u"Larkspur\\Tools", {{u"Path", TextValue(REG_SZ, u"C:\\Tools")}})},
          {{u"AppData/Quenby/Notes/settings.ini", u.settings},
           {u"AppData/Quenby/Notes/wallpaper.bmp", Picture(u)},
           {u"AppData/Larkspur/tools.cfg", "tools"},
           {u"Personal/Notes/Normal.tpl", u.settings + "template"}}};
}
Model VendorAfter(const User& u) {
  return {{Key(u"Larkspur\\Notes", {{u"Font", {REG_SZ, DwordValue(u.font).data}}}),
           Key(u"Larkspur\\Notes\\Plugins", {{u"Spell", DwordValue(1)}}),
           Key(u"Larkspur\\Notes\\View",
               {{u"Zoom", DwordValue(u.zoom)}, {u"Recent", TextValue(REG_SZ, u.recent)}}),
           Key(u"Larkspur\\Tools", {{u"Path", TextValue(REG_SZ, u"C:\\Tools")}})},
          {{u"LocalAppData/Larkspur/Notes/settings.ini", u.settings},
           {u"LocalAppData/Larkspur/Notes/wallpaper.jpg", ConvertedPicture(u)},
           {u"AppData/Larkspur/tools.cfg", "tools"},
           {u"Personal/Notes/Normal.dotx", u.settings + "template"}}};
}

// A value renamed in its key, a cache folder dropped, a shortcut renamed, a backup copy made.
Model TidyBefore(const User& u) {
  return {{Key(u"Quenby\\Notes",
               {{u"ZoomLevel", DwordValue(u.zoom)}, {u"Recent", TextValue(REG_SZ, u.recent)}})},
          {{u"AppData/Quenby/Notes/Cache/1.bin", u.settings + "1"},
           {u"Desktop/Notes.lnk", u.settings + "link"},
           {u"Personal/Notes/notes.ini", u.settings}}};
}
Model TidyAfter(const User& u) {
  return {{Key(u"Quenby\\Notes",
               {{u"Zoom", DwordValue(u.zoom)}, {u"Recent", TextValue(REG_SZ, u.recent)}})},
          {{u"AppData/Quenby/Notes", std::nullopt},
           {u"Desktop/Quenby Notes.lnk", u.settings + "link"},
           {u"Personal/Notes/notes.ini", u.settings},
           {u"Personal/Notes/Backup/notes.ini", u.settings}}};
}

// Derived from one user's upgrade, the rules carry none of that user's data (a rule that did would
// give the second user the example's), pass check, and give a second user that user's own upgrade.
TEST_F(DeriveTest, RulesFromOneUserFitAnother) {
  const User example{150, 0x00120010, u"C:\\Notes\\todo.txt", "zoom=150\n", 12};
  const User second{125, 0x00140012, u"D:\\Work\\plan.txt", "zoom=125\nwrap=on\n", 17};
  const struct {
    Model (*before)(const User&);
    Model (*after)(const User&);
  } cases[] = {{VendorBefore, VendorAfter}, {TidyBefore, TidyAfter}};
  for (const auto& c : cases) {
    ScopedTempDir dir;
    for (const auto& [user, name] : {std::pair(&example, "before"), std::pair(&second, "second")}) {
      WriteArchive(c.before(*user), dir, name);
      WriteArchive(c.after(*user), dir, name + std::string("_after"));
    }
    const CommandOutput derived =
        Inspect({u"derive", dir.wide("before.zip"), dir.wide("before_after.zip"), u"--check-with",
                 dir.wide("second.zip")});
    const std::string text = ToUtf8(derived.out);
    SCOPED_TRACE(text);
    ASSERT_EQ(derived.exit_code, 0u);
    EXPECT_EQ(text.find("example's data"), std::string::npos);
    testing::WriteFile(dir.path() / "derived.xml", text);
    const CommandOutput checked = Inspect({u"check", u"--strict", dir.wide("derived.xml")});
    EXPECT_EQ(ToUtf8(checked.out + checked.err), "");

    ProgramOptions options;
    options.xml_path = dir.wide("derived.xml");
    options.input_path = dir.wide("second.zip");
    options.output_path = dir.wide("out.zip");
    ConsoleWriter console;
    ASSERT_EQ(RunMigration(options, console), 0u);
    const CommandOutput compared =
        Inspect({u"diff", dir.wide("out.zip"), dir.wide("second_after.zip")});
    EXPECT_EQ(ToUtf8(compared.out + compared.err), "");
  }
}

// Checked with other users, the rules name where the example's data replaces the users' own: a
// Zoom other than the example's old one (that is the example's change) or none, a file of theirs.
TEST_F(DeriveTest, ChecksTheRulesWithOtherProfiles) {
  ScopedTempDir dir;
  for (const auto& [name, zoom, note] :
       {std::tuple("before", 150, ""), std::tuple("after", 125, "new"), std::tuple("same", 150, ""),
        std::tuple("none", 0, ""), std::tuple("own", 175, "mine")}) {
    Model model{{Key(u"App", {})}, {{u"Desktop/keep.txt", "k"}}};
    if (zoom != 0) (void)model.keys[0].values().AddValue(u"Zoom", DwordValue(zoom));
    if (*note != '\0') model.tree[u"Desktop/note.txt"] = note;
    WriteArchive(model, dir, name);
  }
  testing::WriteFile(dir.path() / "broken.zip", "no archive");
  const auto derive = [&](std::initializer_list<const char*> others) {
    ArgumentList args = {u"OrvexInspect", u"derive", dir.wide("before.zip"), dir.wide("after.zip")};
    if (others.size() != 0) args.push_back(u"--check-with");
    for (const char* other : others) args.push_back(dir.wide(other));
    return RunInspectCommand(args);
  };
  const CommandOutput plain = derive({});
  ASSERT_EQ(plain.exit_code, 0u) << ToUtf8(plain.out);
  const CommandOutput unchanged = derive({"same.zip", "none.zip"});
  EXPECT_EQ(std::pair(unchanged.exit_code, unchanged.out), std::pair(0u, plain.out));
  const std::string own = " (" + ToUtf8(dir.wide("own.zip")) + ")\n";
  std::string expected = ToUtf8(plain.out);
  expected.insert(
      expected.find("-->"),
      "     What they would do in the other profiles that they do not in the example:\n"
      "       sets value \"Zoom\" of key 'HKEY_CURRENT_USER\\Software\\App' to integer 125 in "
      "1 of 3 profiles where it was integer 175" +
          own +
          "       creates file 'Desktop\\note.txt' (3 bytes) in 1 of 3 profiles where it held "
          "4 bytes of its own" +
          own);
  const CommandOutput checked = derive({"same.zip", "none.zip", "own.zip"});
  EXPECT_EQ(checked.exit_code, 1u);
  EXPECT_EQ(ToUtf8(checked.out), expected);
  const std::string broken = ToUtf8(derive({"broken.zip"}).err);
  EXPECT_EQ(broken.substr(0, broken.find(" (error ")), "OrvexInspect: cannot check with '" +
                                                           ToUtf8(dir.wide("broken.zip")) +
                                                           "': cannot unpack the archive");
}

TEST_P(RoundTripTest, DerivedRulesTurnBeforeIntoAfter) {
  const std::size_t pairs = EnvNumber("ORVEX_ROUND_TRIP_PAIRS", 200);
  const std::size_t first_seed = EnvNumber("ORVEX_ROUND_TRIP_SEED", 1);
  for (std::size_t i = static_cast<std::size_t>(GetParam()); i < pairs; i += kShards) {
    const auto seed = static_cast<std::uint32_t>(first_seed + i);
    SCOPED_TRACE("seed " + std::to_string(seed));
    Generator generator(seed);
    Model before = generator.Before();
    Model after = before;
    generator.Edit(&after);
    ScopedTempDir dir;
    WriteArchive(before, dir, "before");
    WriteArchive(after, dir, "after");
    const std::u16string before_zip = dir.wide("before.zip");
    const std::u16string after_zip = dir.wide("after.zip");

    const CommandOutput derived = Inspect({u"derive", before_zip, after_zip});
    ASSERT_EQ(derived.exit_code, 0u) << ToUtf8(derived.out + derived.err);
    testing::WriteFile(dir.path() / "derived.xml", ToUtf8(derived.out));
    const CommandOutput checked = Inspect({u"check", u"--strict", dir.wide("derived.xml")});
    ASSERT_EQ(ToUtf8(checked.out + checked.err), "") << ToUtf8(derived.out);
    ASSERT_EQ(checked.exit_code, 0u);

    ProgramOptions options;
    options.xml_path = dir.wide("derived.xml");
    options.input_path = before_zip;
    options.output_path = dir.wide("out.zip");
    ConsoleWriter console;
    ASSERT_EQ(RunMigration(options, console), 0u) << ToUtf8(derived.out);
    const CommandOutput compared = Inspect({u"diff", dir.wide("out.zip"), after_zip});
    ASSERT_EQ(ToUtf8(compared.out + compared.err), "") << ToUtf8(derived.out);
    ASSERT_EQ(compared.exit_code, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, RoundTripTest, ::testing::Range(0, kShards));

}  // namespace
}  // namespace orvex
