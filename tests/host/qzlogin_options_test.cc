#include "host/qzlogin_options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/qzlogin_report.h"

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

TEST(QzloginOptionsTest, DefaultsAndEveryOption) {
  Options defaults;
  std::string error;
  ASSERT_TRUE(ParseOptions({}, &defaults, &error));
  EXPECT_EQ(defaults.events, std::vector<uint32_t>{1296});
  EXPECT_EQ(defaults.provider, "zelnetprovider");
  EXPECT_EQ(defaults.calling_module, 0xFFFFFFFFu);
  EXPECT_EQ(defaults.field24, "PRESET");
  EXPECT_EQ(defaults.buffer_size, 256u);
  EXPECT_TRUE(defaults.chain);
  EXPECT_FALSE(defaults.has_run_eap);

  Options o;
  ASSERT_TRUE(ParseOptions({"--events", "98,102", "--start-ui", "5", "--run-eap", "1",
                            "--dblclick", "2", "--answer", "yes", "--chain-result", "0x10",
                            "--json"},
                           &o, &error))
      << error;
  EXPECT_EQ(o.events, (std::vector<uint32_t>{98, 102}));
  EXPECT_EQ(o.start_ui, 5);
  EXPECT_TRUE(o.has_run_eap);
  EXPECT_EQ(o.dialog, DialogScript::kDoubleClick);
  EXPECT_EQ(o.dialog_row, 2);
  EXPECT_EQ(o.answer, AnswerScript::kYes);
  EXPECT_EQ(o.chain_result, 16);
  EXPECT_TRUE(o.json);

  Options none;
  ASSERT_TRUE(ParseOptions({"--events", ""}, &none, &error));
  EXPECT_TRUE(none.events.empty());

  Options bad;
  EXPECT_FALSE(ParseOptions({"--no-chain", "--chain-result", "3"}, &bad, &error));
  EXPECT_FALSE(ParseOptions({"--select-none", "--dblclick", "0"}, &bad, &error));
  EXPECT_FALSE(ParseOptions({"--extension", ""}, &bad, &error));
  EXPECT_FALSE(ParseOptions({"--buffer-size", "1048577"}, &bad, &error));
}

// The dialog part of the report: texts converted from the ANSI code page,
// columns and rows as presented, the result.
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
  // The whole report; every box and dialog says whether the prompt owned it
  // and was disabled.
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

}  // namespace
}  // namespace qzlogin
}  // namespace wendrel
