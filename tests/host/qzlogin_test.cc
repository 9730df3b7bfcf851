// qzlogin's parts: its options, its JSON report and natively its UI hooks.

#include "host/qzlogin_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/qzlogin_report.h"
#include "host/start_info.h"
#ifndef _WIN32
#include "host/qzlogin_ui.h"
#endif

namespace wendrel {
namespace qzlogin {
namespace {

TEST(QzloginOptionsTest, NumbersAreDecimalOrHexWithinTheirRange) {
  int64_t v = 0;
  EXPECT_TRUE(ParseNumber("0xFFFFFFFF", 0, 0xFFFFFFFF, &v));
  EXPECT_EQ(v, 0xFFFFFFFF);
  EXPECT_TRUE(ParseNumber("-7", INT32_MIN, INT32_MAX, &v));
  EXPECT_EQ(v, -7);
  EXPECT_TRUE(ParseNumber("0X8d0eF", 0, 0xFFFFFFFF, &v));
  EXPECT_EQ(v, 577775);
  for (const char* bad :
       {"", "-", "0x", "12a", " 1", "0x1g", "4294967296", "99999999999999999999"}) {
    EXPECT_FALSE(ParseNumber(bad, 0, 0xFFFFFFFF, &v)) << bad;
  }
  EXPECT_FALSE(ParseNumber("256", 0, 255, &v));
}

// Every field of the options, compared (and printed) at once.
auto Fields(const Options& o) {
  return std::make_tuple(o.extension, o.user, o.tree, o.events, o.provider, o.calling_module,
                         o.start_ui, o.has_run_eap, o.run_eap, o.field24, o.buffer_size,
                         static_cast<int>(o.dialog), o.dialog_row, static_cast<int>(o.answer),
                         o.chain, o.chain_result, o.json);
}

TEST(QzloginOptionsTest, DefaultsAndEveryOption) {
  using Events = std::vector<uint32_t>;
  const std::string empty, provider = "zelnetprovider", field24 = "PRESET";
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({}, &o, &error));
  EXPECT_EQ(Fields(o), std::make_tuple(empty, empty, empty, Events{1296}, provider, 0xFFFFFFFFu,
                                       uint8_t{0}, false, 0u, field24, 256u, 0, -1, 0, true, 0,
                                       false));
  o = Options();
  ASSERT_TRUE(ParseOptions({"--events", "98,0x66", "--start-ui", "5", "--run-eap", "1",
                            "--dblclick", "2", "--answer", "yes", "--chain-result", "0x10",
                            "--json"},
                           &o, &error))
      << error;
  EXPECT_EQ(Fields(o), std::make_tuple(empty, empty, empty, Events{98, 102}, provider,
                                       0xFFFFFFFFu, uint8_t{5}, true, 1u, field24, 256u,
                                       static_cast<int>(DialogScript::kDoubleClick), 2,
                                       static_cast<int>(AnswerScript::kYes), true, 16, true));

  o = Options();
  ASSERT_TRUE(ParseOptions({"--events", ""}, &o, &error));
  EXPECT_TRUE(o.events.empty());

  // Each is refused, and qzlogin exits with its usage.
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--no-chain", "--chain-result", "3"}, {"--select-none", "--dblclick", "0"},
           {"--select", "1", "--cancel"}, {"--extension", ""}, {"--buffer-size", "1048577"},
           {"--buffer-size", "0"}, {"--buffer-size"}, {"--bogus"}, {"--events", "1,,2"},
           {"--events", "x"}, {"--start-ui", "256"}, {"--answer", "maybe"},
           {"--chain-result", "1x"}, {"--calling-module", "0x100000000"}}) {
    Options options;
    EXPECT_FALSE(ParseOptions(bad, &options, &error)) << bad[0];
  }
}

// What qzlogin types is cut to leave room for a terminator; a buffer the
// extension filled to its end without one is read whole.
TEST(QzloginStartInfoTest, TextsAreCutOnTheWayInAndReadToTheBufferEnd) {
  Options options;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--user", "jdoe", "--tree", "ACME", "--buffer-size", "4"}, &options,
                           &error));
  StartInfo info(options);
  std::memcpy(LoadText(info.record(), kStartInfoContext).buffer, "sale", 4);
  EXPECT_EQ(std::vector<std::string>({"ACM", "jdo", "PRE", "sale"}),
            std::vector<std::string>({info.Text(kStartInfoTree), info.Text(kStartInfoUser),
                                      info.Text(kStartInfoField24),
                                      info.Text(kStartInfoContext)}));
}

// The whole report, texts converted from the ANSI code page; every box and
// dialog says whether the prompt owned it and was disabled.
TEST(QzloginReportTest, DialogsAndBoxesInTheJsonReport) {
  Report report;
  report.extension = "x";
  report.handshake_called = true;
  report.events.push_back(EventSeen{0, -1, false});
  report.message_boxes.push_back(MessageBoxSeen{0x10, "caf\xE9", true, true});
  DialogSeen dialog;
  dialog.caption = "Pick";
  dialog.prompt = "Several users";
  dialog.columns = {{"User Name", 100}, {"Context", 150}};
  dialog.rows = {{"jdoe", "sales.acme"}, {"jdoe", "\xC4"}};
  dialog.result = 1;
  dialog.chosen_row = 1;
  report.dialogs.push_back(dialog);
  dialog.owned_by_prompt = true;  // owned, but the prompt stayed enabled
  report.dialogs.push_back(dialog);
  std::ostringstream out;
  PrintJson(report, &out);
  const std::string seen =
      "{\"caption\": \"Pick\", \"prompt\": \"Several users\", \"columns\": "
      "[{\"title\": \"User Name\", \"width\": 100}, "
      "{\"title\": \"Context\", \"width\": 150}], \"rows\": [[\"jdoe\", \"sales.acme\"], "
      "[\"jdoe\", \"\xC3\x84\"]], \"result\": 1, \"owner\": ";
  EXPECT_EQ(out.str(),
            "{\"extension\": \"x\", \"handshake\": {\"called\": true, \"result\": 0}, "
            "\"events\": [{\"code\": 0, \"result\": -1, \"chained\": false}], "
            "\"record\": {\"tree\": \"\", \"user\": \"\", \"context\": \"\", \"field24\": \"\", "
            "\"callingModule\": 0}, \"notifications\": [], \"initialConnCalls\": 0, "
            "\"messageBoxes\": [{\"style\": 16, \"text\": \"caf\xC3\xA9\", \"owner\": \"prompt\", "
            "\"ownerDisabled\": true}], \"dialogs\": [" +
                seen + "\"none\", \"ownerDisabled\": false}, " + seen +
                "\"prompt\", \"ownerDisabled\": false}]}\n");
}

#ifndef _WIN32
// qzlogin's native dialog hook, called as the extension's UI port calls it.
auto Fields(const DialogSeen& d) {
  return std::tie(d.caption, d.prompt, d.columns, d.rows, d.result, d.chosen_row,
                  d.owned_by_prompt, d.owner_disabled);
}

TEST(QzloginUiTest, DialogsAreAnsweredFromTheScriptAndRecorded) {
  const WendrelDialogColumn columns[] = {{"User Name", 100}, {"Context", 150}};
  const char* cells[] = {"adoe", "a.acme", "jdoe", "sales.acme", "zdoe", ""};
  WendrelDialogModel model = {"Select", "Several users match", 2, columns, 3, cells, 0};

  struct Case {
    DialogScript script;
    int script_row;
    int returned;  // to the extension
    int result;    // the dialog's, recorded
    int row;
  };
  const Case cases[] = {
      {DialogScript::kSelect, 2, kWendrelDialogOk, kWendrelDialogOk, 2},
      {DialogScript::kDoubleClick, 1, kWendrelDialogDoubleClick, kWendrelDialogOk, 1},
      // No such row: OK finds none.
      {DialogScript::kSelect, 3, kWendrelDialogOk, kWendrelDialogOk, -1},
      {DialogScript::kDoubleClick, 3, kWendrelDialogOk, kWendrelDialogOk, -1},
      {DialogScript::kSelectNone, -1, kWendrelDialogOk, kWendrelDialogOk, -1},
      {DialogScript::kCancel, -1, kWendrelDialogCancel, kWendrelDialogCancel, -1},
      // Unattended.
      {DialogScript::kNone, -1, kWendrelDialogCancel, kWendrelDialogCancel, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    UiScript script;
    script.dialog = c.script;
    script.dialog_row = c.script_row;
    SetUiScript(script);
    const size_t before = DialogsSeen().size();
    int row = 42;
    EXPECT_EQ(WendrelHostSelectionDialog(&model, &row), c.returned);
    EXPECT_EQ(row, c.row);
    ASSERT_EQ(DialogsSeen().size(), before + 1);
    // qzlogin is the prompt, disabled while it presents.
    const DialogSeen expected = {"Select", "Several users match",
                                 {{"User Name", 100}, {"Context", 150}},
                                 {{"adoe", "a.acme"}, {"jdoe", "sales.acme"}, {"zdoe", ""}},
                                 c.result, c.row, true, true};
    EXPECT_EQ(Fields(DialogsSeen().back()), Fields(expected));
  }

  // A model the dialog could not be built from is refused, not read.
  WendrelDialogModel broken = model;
  broken.cells = nullptr;
  int row = 5;
  EXPECT_EQ(WendrelHostSelectionDialog(&broken, &row), kWendrelDialogCannotCreate);
  EXPECT_EQ(row, -1);
  broken = model;
  broken.column_count = 0;
  EXPECT_EQ(WendrelHostSelectionDialog(&broken, &row), kWendrelDialogCannotCreate);
}
#endif  // _WIN32

}  // namespace
}  // namespace qzlogin
}  // namespace wendrel
