// What vqcall prints for each kind of answer, and the querydbg table.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>

#include "tools/vqcall/exit_codes.h"
#include "tools/vqcall/reply_report.h"
#include "tools/vqcall/result_table.h"

namespace vqcall {
namespace {

std::string Table(const std::string& results_json) {
  rapidjson::Document doc;
  doc.Parse(results_json.c_str());
  EXPECT_FALSE(doc.HasParseError()) << results_json;
  return FormatTable(TableFromResults(doc));
}

TEST(VqcallTable, ColumnsNullsWidthsAndFooter) {
  // Later rows may bring keys the first row lacks; they are appended, and
  // rows without them show nothing there. Widths count characters, not bytes.
  EXPECT_EQ(Table(R"([{"id":"1","name":"crème"},{"id":"22","name":null,"extra":"x"},
                      {"name":"ab"}])"),
            "id | name  | extra\n"
            "---+-------+------\n"
            "1  | crème |\n"
            "22 | NULL  | x\n"
            "   | ab    |\n"
            "(3 rows)\n");
  EXPECT_EQ(Table(R"([{"n":"ä"}])"), "n\n-\nä\n(1 row)\n");
  EXPECT_EQ(Table("[]"), "(0 rows)\n");
  // Control characters cannot break lines or reach the terminal raw.
  EXPECT_EQ(Table(R"([{"v":"a\nb\u001b[2J"}])"), "v\n-----------\na\\nb\\x1b[2J\n(1 row)\n");
  // Values that are not texts show as JSON.
  EXPECT_EQ(Table(R"([{"a":1,"b":true}])"), "a | b\n--+-----\n1 | true\n(1 row)\n");

  EXPECT_EQ(DisplayWidth(""), 0u);
  rapidjson::Document doc;
  doc.Parse(R"({"a":1})");
  EXPECT_THROW(TableFromResults(doc), std::runtime_error);
  doc.Parse(R"([1])");
  EXPECT_THROW(TableFromResults(doc), std::runtime_error);
}

// Columns line up on the screen: wide characters (CJK, emoji) take two
// columns, combining accents none; bytes that are no UTF-8 one each.
TEST(VqcallTable, AlignsByDisplayWidth) {
  EXPECT_EQ(DisplayWidth("日本語"), 6u);
  EXPECT_EQ(DisplayWidth("\xF0\x9F\x98\x80"), 2u);         // U+1F600
  EXPECT_EQ(DisplayWidth("e\xCC\x81t\xC3\xA9"), 3u);        // e + U+0301, t, é
  EXPECT_EQ(DisplayWidth("\xFF\xC3"), 2u);                   // not UTF-8
  EXPECT_EQ(DisplayWidth("\xEF\xBC\xA1" "b"), 3u);           // U+FF21 (fullwidth A), b
  EXPECT_EQ(Table(R"([{"k":"日本","v":"x"},{"k":"abc","v":"y"},{"k":"\ud83d\ude00!","v":"z"},
                      {"k":"cafe\u0301","v":"w"}])"),
            "k    | v\n"
            "-----+--\n"
            "日本 | x\n"
            "abc  | y\n"
            "\xF0\x9F\x98\x80!  | z\n"
            "cafe\xCC\x81 | w\n"
            "(4 rows)\n");
  // The header too, and C1 controls are escaped like C0 ones.
  EXPECT_EQ(Table(R"([{"名前":"a\u009bb"}])"), "名前\n--------\na\\u009bb\n(1 row)\n");
}

// A null stands apart from the text "NULL": its text can be chosen, and on
// a terminal it is dimmed (the attribute codes take no column).
TEST(VqcallTable, NullTextAndDimming) {
  rapidjson::Document doc;
  doc.Parse(R"([{"a":null,"b":"NULL"},{"a":"long value","b":null}])");
  TableStyle style;
  style.null_text = "\xE2\x88\x85";  // U+2205
  EXPECT_EQ(FormatTable(TableFromResults(doc), style),
            "a          | b\n"
            "-----------+-----\n"
            "\xE2\x88\x85          | NULL\n"
            "long value | \xE2\x88\x85\n"
            "(2 rows)\n");
  style = TableStyle{};
  style.dim_nulls = true;
  EXPECT_EQ(FormatTable(TableFromResults(doc), style),
            "a          | b\n"
            "-----------+-----\n"
            "\x1b[2mNULL\x1b[22m       | NULL\n"
            "long value | \x1b[2mNULL\x1b[22m\n"
            "(2 rows)\n");
  style.null_text = "";
  EXPECT_EQ(FormatTable(TableFromResults(doc), style),
            "a          | b\n"
            "-----------+-----\n"
            "           | NULL\n"
            "long value |\n"
            "(2 rows)\n");
}

HttpResult Ok(const std::string& body) { return {200, "OK", body}; }

TEST(VqcallReport, SuccessAndErrorReplies) {
  Report r = ReportReply(Command::kQuery, false, Ok(R"("1|a")"));
  EXPECT_EQ(r.out, "1|a\n");
  EXPECT_EQ(r.exit_code, kExitOk);

  r = ReportReply(Command::kQuery, false, Ok(R"j("Error code = 80004005 (x)")j"));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error code = 80004005 (x)\n");
  EXPECT_EQ(r.exit_code, kExitErrorReply);
  // A text that merely contains the words is data.
  EXPECT_EQ(ReportReply(Command::kQuery, false, Ok(R"("x Error code = 1")")).exit_code, kExitOk);
  // --json prints the body as it came and still reports the failure.
  r = ReportReply(Command::kQuery, true, Ok(R"("Error code = 1")"));
  EXPECT_EQ(r.out, "\"Error code = 1\"\n");
  EXPECT_EQ(r.exit_code, kExitErrorReply);

  EXPECT_EQ(ReportReply(Command::kOpen, false, Ok(R"({"Status":true})")).out, "ok\n");
  r = ReportReply(Command::kOpen, false, Ok(R"({"Status":false})"));
  EXPECT_EQ(r.out, "failed\n");
  EXPECT_EQ(r.exit_code, kExitErrorReply);

  r = ReportReply(Command::kQueryDbg, false, Ok(R"({"Status":false,"Errmsg":"Error code = 5"})"));
  EXPECT_EQ(r.err, "Error code = 5\n");
  EXPECT_EQ(r.exit_code, kExitErrorReply);
  r = ReportReply(Command::kQueryDbg, false, Ok(R"({"Results":[{"a":"1"}],"Status":true})"));
  EXPECT_EQ(r.out, "a\n-\n1\n(1 row)\n");

  EXPECT_EQ(ReportReply(Command::kRaw, false, Ok("null")).out, "null\n");
}

TEST(VqcallReport, HttpErrorsAndUnexpectedBodies) {
  Report r = ReportReply(Command::kOpen, false,
                         {401, "Unauthorized",
                          R"({"error":{"type":"Unauthorized","message":"missing or wrong bearer token"}})"});
  EXPECT_EQ(r.err, "vqcall: HTTP 401: missing or wrong bearer token\n");
  EXPECT_EQ(r.exit_code, kExitHttpError);
  EXPECT_EQ(ReportReply(Command::kOpen, false, {404, "Not Found", "no such path"}).err,
            "vqcall: HTTP 404: no such path\n");
  EXPECT_EQ(ReportReply(Command::kOpen, false, {502, "Bad Gateway", ""}).err,
            "vqcall: HTTP 502: Bad Gateway\n");
  // raw shows the body whatever the status.
  r = ReportReply(Command::kRaw, false, {400, "Bad Request", "{\"error\":{}}"});
  EXPECT_EQ(r.out, "{\"error\":{}}\n");
  EXPECT_EQ(r.exit_code, kExitHttpError);

  for (const char* body : {"not json", "null", "{\"Status\":1}", "[]"}) {
    EXPECT_EQ(ReportReply(Command::kOpen, false, Ok(body)).exit_code, kExitHttpError) << body;
  }
  EXPECT_EQ(ReportReply(Command::kExtr, false, Ok("{}")).exit_code, kExitHttpError);
  EXPECT_EQ(ReportReply(Command::kQueryDbg, false, Ok(R"({"Status":true,"Results":{}})")).exit_code,
            kExitHttpError);
}

}  // namespace
}  // namespace vqcall
