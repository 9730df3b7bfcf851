#include "host/qzlogin_options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

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
  ASSERT_TRUE(ParseOptions({"--events", "98,102", "--start-ui", "5", "--run-eap", "1",
                            "--dblclick", "2", "--answer", "yes", "--chain-result", "0x10",
                            "--json"},
                           &o, &error))
      << error;
  EXPECT_EQ(Fields(o), std::make_tuple(empty, empty, empty, Events{98, 102}, provider,
                                       0xFFFFFFFFu, uint8_t{5}, true, 1u, field24, 256u,
                                       static_cast<int>(DialogScript::kDoubleClick), 2,
                                       static_cast<int>(AnswerScript::kYes), true, 16, true));

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
