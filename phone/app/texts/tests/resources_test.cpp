// The reader of resource scripts, and the shipped scripts themselves.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/resources.h"
#include "texts/language_table.h"

namespace texts {
namespace {

using platform::ResourceModule;

std::unique_ptr<ResourceModule> parse(const std::string& text, std::string* errorOut = nullptr) {
  std::string error;
  auto m = ResourceModule::parse(text, "test.rc", error);
  if (errorOut) *errorOut = error;
  return m;
}

std::unique_ptr<ResourceModule> shipped(const std::string& name) {
  std::string error;
  auto m = ResourceModule::load(std::string(VISTREL_RESOURCES_DIR) + "/" + name, error);
  EXPECT_TRUE(m) << error;
  return m;
}

TEST(ResourceScriptTest, ReadsTheSubset) {
  std::string error;
  auto m = parse(
      "#include <windows.h>\n"
      "#define IDD_MAIN 700\n"
      "#define IDC_NAME 0x410\n"
      "/* a block\n   comment */\n"
      "LANGUAGE 0x07, 0x01\n"
      "STRINGTABLE DISCARDABLE\n"
      "BEGIN\n"
      "  10, \"Say \"\"hi\"\"\\n\"\n"
      "  11 L\"Gr\xc3\xbc\xc3\x9f" "e\"  // comment\n"
      "END\n"
      "IDD_MAIN DIALOGEX 1, 2, 100, -50\n"
      "STYLE WS_POPUP | NOT WS_VISIBLE | 0x80\n"
      "CAPTION \"Main\"\n"
      "FONT 8, \"Tahoma\", 0, 0, 1\n"
      "{\n"
      "  EDITTEXT IDC_NAME, 1, 2, 3, 4, ES_NUMBER | WS_TABSTOP, WS_EX_CLIENTEDGE\n"
      "  CONTROL \"\", 5, \"SIPPREF\", NOT WS_VISIBLE, -10, -10, 6, 7\n"
      "  ICON 153, 6, 1, 1\n"
      "  DEFPUSHBUTTON \"OK\", IDOK, 1, 1, 1, 1\n"
      "}\n"
      "701 MENU\n"
      "BEGIN\n"
      "  POPUP \"File\"\n"
      "  BEGIN\n"
      "    MENUITEM \"Open\", 100, CHECKED, GRAYED\n"
      "    MENUITEM SEPARATOR\n"
      "  END\n"
      "END\n"
      "702 ACCELERATORS\nBEGIN\n  \"Q\", 40000, VIRTKEY, CONTROL\n  \"^C\", 3\nEND\n"
      "703 ICON \"app.ico\"\n",
      &error);
  ASSERT_TRUE(m) << error;
  EXPECT_EQ(m->language(), 0x0407);
  EXPECT_EQ(*m->string(10), u"Say \"hi\"\n");
  EXPECT_EQ(*m->string(11), u"Gr\u00fc\u00dfe");
  EXPECT_EQ(m->string(12), nullptr);
  const auto* d = m->dialog(700);
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->extended);
  EXPECT_EQ(d->height, -50);
  EXPECT_EQ(d->style, (std::vector<std::string>{"WS_POPUP", "NOT WS_VISIBLE", "128"}));
  EXPECT_EQ(d->caption, u"Main");
  EXPECT_EQ(d->fontName, u"Tahoma");
  ASSERT_EQ(d->controls.size(), 4u);
  const auto* edit = d->control(0x410);
  ASSERT_TRUE(edit);
  EXPECT_EQ(edit->className, "EDIT");
  EXPECT_TRUE(edit->hasStyle("ES_NUMBER"));
  EXPECT_EQ(edit->exStyle, std::vector<std::string>{"WS_EX_CLIENTEDGE"});
  EXPECT_EQ(d->controls[1].className, "SIPPREF");
  EXPECT_EQ(d->controls[1].x, -10);
  EXPECT_EQ(d->controls[2].resourceId, 153);
  EXPECT_EQ(d->controls[3].id, 1);
  const auto* menu = m->menu(701);
  ASSERT_TRUE(menu);
  ASSERT_EQ(menu->items.size(), 1u);
  EXPECT_TRUE(menu->items[0].popup);
  ASSERT_EQ(menu->items[0].items.size(), 2u);
  EXPECT_EQ(menu->items[0].items[0].id, 100);
  EXPECT_EQ(menu->items[0].items[0].options, (std::vector<std::string>{"CHECKED", "GRAYED"}));
  EXPECT_TRUE(menu->items[0].items[1].separator);
  const auto* acc = m->accelerators(702);
  ASSERT_TRUE(acc);
  ASSERT_EQ(acc->size(), 2u);
  EXPECT_EQ((*acc)[0].key, 'Q');
  EXPECT_EQ((*acc)[0].command, 40000);
  EXPECT_EQ((*acc)[1].key, 3);
  EXPECT_EQ(*m->icon(703), "app.ico");

  char16_t buffer[4];
  EXPECT_EQ(m->loadString(10, buffer, 4), 3u);  // truncated to the buffer
  EXPECT_EQ(std::u16string(buffer), u"Say");
  EXPECT_EQ(m->loadString(99, buffer, 4), 0u);
  EXPECT_EQ(buffer[0], 0);
}

TEST(ResourceScriptTest, MalformedScriptsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"STRINGTABLE\nBEGIN\n 1 \"open\n", "test.rc:3: unterminated string"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND\n", "test.rc:4: string 1 defined twice"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\"\n", "test.rc:4: "},  // missing END
      {"600 DIALOG 0, 0, 10, 10\nBEGIN\n  LTEXT \"x\" -1, 0, 0, 1, 1\nEND\n",
       "test.rc:3: ',' expected"},
      {"600 DIALOG 0, 0, 10, 10\nBEGIN\n  SLIDER 5, 0, 0, 1, 1\nEND\n",
       "test.rc:3: unsupported control SLIDER"},
      {"600 DIALOG 0, 0, 10, 10\nBEGIN\n  EDITTEXT IDC_NOPE, 0, 0, 1, 1\nEND\n",
       "test.rc:3: unknown name IDC_NOPE"},
      {"\n600 BITMAP \"x.bmp\"\n", "test.rc:2: unsupported resource type BITMAP"},
      {"#ifdef X\n", "test.rc:1: unsupported directive #ifdef"},
      {"STRINGTABLE\nBEGIN\n 1 \"\xC3\x28\"\nEND\n", "test.rc:3: string is not valid UTF-8"},
      {"1 MENUEX\nBEGIN\n MENUITEM \"a\", 1\n 1 MENUEX\n", "test.rc:4: MENUITEM, POPUP or END expected"},
      {"70000 MENU\nBEGIN\nEND\n", "test.rc:1: resource id must be 1 to 65535"},
      {"1 MENU\nBEGIN\nEND\n1 MENU\nBEGIN\nEND\n", "test.rc:4: menu 1 defined twice"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\\q\"\nEND\n", "test.rc:3: unknown escape in string"},
      {"@", "test.rc:1: unexpected character '@'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(parse(c.text, &error));
    EXPECT_EQ(error.substr(0, std::strlen(c.error)), c.error) << error;
  }
  std::string error;
  EXPECT_FALSE(ResourceModule::load("/nonexistent/x.rc", error));
  EXPECT_EQ(error, "/nonexistent/x.rc: cannot be read");
}

// Dialog id -> the identifiers its controls must carry.
const std::map<uint32_t, std::set<int32_t>> kDialogControls = {
    {600, {1004, 1002, 1006, 1007, 1003}},
    {601, {1016, 1060, 1039, 1035}},
    {602, {1032, 1033, 2}},
    {603, {1040, 1041, 1044, 1042}},
    {604, {1045, 1052, 1046, 1047, 1048, 1054, 1050, 1049, 1076, 1077, 1078}},
    {605, {1056}},
};

std::set<int32_t> controlIds(const platform::DialogTemplate& d) {
  std::set<int32_t> ids;
  for (const auto& c : d.controls)
    if (c.id != -1) ids.insert(c.id);
  return ids;
}

TEST(ShippedResourcesTest, OwnModuleHoldsEveryDialogAndMenuBar) {
  auto own = builtinModule();
  ASSERT_TRUE(own);
  for (const auto& [id, controls] : kDialogControls) {
    SCOPED_TRACE(id);
    const auto* d = own->dialog(id);
    ASSERT_TRUE(d);
    EXPECT_EQ(controlIds(*d), controls);
  }
  EXPECT_EQ(own->dialog(600)->caption, u"Settings");
  EXPECT_EQ(own->dialog(601)->caption, u"About");
  EXPECT_EQ(own->dialog(604)->caption, u"FTP");
  EXPECT_EQ(own->dialog(605)->caption, u"General Settings");
  EXPECT_EQ(own->dialog(600)->control(1004)->text, u"Autodetect IP");
  EXPECT_EQ(own->dialog(600)->control(1002)->text, u"IP-Address");
  EXPECT_TRUE(own->dialog(604)->control(1048)->hasStyle("ES_PASSWORD"));
  EXPECT_EQ(own->dialog(602)->control(2)->text, u"Cancel");
  EXPECT_EQ(own->dialog(603)->control(1041)->text, u"-");
  EXPECT_EQ(own->dialog(603)->control(1042)->text, u"+");
  EXPECT_EQ(own->dialog(601)->control(1016)->resourceId, 153);
  EXPECT_EQ(own->dialog(601)->control(1060)->text, u"Vistrel v2.1");

  struct Bar {
    uint32_t id;
    std::vector<std::tuple<int32_t, std::u16string, bool>> buttons;  // id, text, opens a popup
  };
  const Bar bars[] = {
      {148, {{1, u"Done", false}, {40006, u"Advanced", true}}},
      {149, {{1, u"Done", false}, {40003, u"Help", false}}},
      {150, {{1, u"Done", false}}},
      {151, {{40002, u"Start", false}, {40001, u"Menu", true}}},
      {152, {{1, u"Done", false}}},
  };
  for (const auto& bar : bars) {
    SCOPED_TRACE(bar.id);
    const auto* m = own->menu(bar.id);
    ASSERT_TRUE(m);
    std::vector<std::tuple<int32_t, std::u16string, bool>> got;
    for (const auto& e : m->items) got.emplace_back(e.id, e.text, e.popup);
    EXPECT_EQ(got, bar.buttons);
  }
  ASSERT_TRUE(own->icon(153));
  EXPECT_TRUE(std::filesystem::exists(std::string(VISTREL_RESOURCES_DIR) + "/" + *own->icon(153)));
  const auto* acc = own->accelerators(100);
  ASSERT_TRUE(acc);
  EXPECT_EQ(acc->at(0).command, 40000);
}

TEST(ShippedResourcesTest, FileBesideTheProgramMatchesTheBuiltInCopyAndGermanIsComplete) {
  auto file = shipped("vistrel.rc");
  auto own = builtinModule();
  ASSERT_TRUE(file && own);
  EXPECT_EQ(file->strings(), own->strings());
  auto german = shipped("vistrel.0407.mui");
  ASSERT_TRUE(german);
  EXPECT_EQ(german->language(), 0x0407);
  for (uint32_t t = 0; t <= kLastTextId; ++t) {
    const uint32_t r = textResourceId(t);
    if (!r) continue;
    ASSERT_TRUE(german->string(r)) << "string " << r;
    EXPECT_LE(german->string(r)->size(), LanguageTable::kMaxTextChars);
  }
  for (uint32_t id : {600u, 601u, 602u, 604u, 605u}) {
    SCOPED_TRACE(id);
    ASSERT_TRUE(german->dialog(id));
    EXPECT_EQ(controlIds(*german->dialog(id)), kDialogControls.at(id));
    EXPECT_EQ(german->dialog(id)->controls.size(), own->dialog(id)->controls.size());
  }
  EXPECT_EQ(german->dialog(603), nullptr);  // the setting editor is never translated
  EXPECT_EQ(german->dialog(605)->controls[0].text, u"Sprache");
}

TEST(ShippedResourcesTest, BrokenFileBesideTheProgramFallsBackToTheBuiltInCopy) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vistrel-own-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  const std::string program = dir + "/vistrel";
  std::vector<std::string> messages;
  const Diagnostics collect = [&](const std::string& m) { messages.push_back(m); };

  auto missing = loadOwnModule(program, collect);
  ASSERT_TRUE(missing && missing->dialog(605));
  ASSERT_EQ(messages.size(), 1u);  // a missing own file is worth saying: the install is incomplete
  EXPECT_NE(messages[0].find("vistrel.rc: cannot be read"), std::string::npos);

  std::ofstream(program + ".rc") << "STRINGTABLE\nBEGIN\n  1 \"Mine\"\n";
  auto broken = loadOwnModule(program, collect);
  ASSERT_TRUE(broken && broken->string(1));
  EXPECT_EQ(*broken->string(1), u"Vistrel");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[1].find("vistrel.rc:4:"), std::string::npos) << messages[1];

  std::ofstream(program + ".rc") << "STRINGTABLE\nBEGIN\n  1 \"Mine\"\nEND\n";
  auto good = loadOwnModule(program, collect);
  EXPECT_EQ(*good->string(1), u"Mine");
  EXPECT_EQ(messages.size(), 2u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace texts
