#include "srv/db/record_trace.h"

#include <gtest/gtest.h>

#include "platform/com/comsupp.h"
#include "tests/support/fake_ado/connection.h"
#include "tests/support/fake_ado/recordset.h"
#include "tests/srv/db/trace_capture.h"

namespace {

struct Record {
  fake::FakeRecord rec;
  Record() {
    fake::FakeField& id = rec.Add(u"id");
    id.SetInt(7);
    id.status = 0;
    id.attributes = adFldMayBeNull | adFldFixed;
    fake::FakeField& note = rec.Add(u"note");
    note.SetNull();
    note.type = adVarWChar;
    note.attributes = -1;
  }
  void TraceSelected(CaptureServer& server) {
    RecordsetPtr rs(&rec.rs, true);
    _variant_t index;
    index.vt = VT_I2;
    for (SHORT i = 0; i < 2; ++i) {
      index.iVal = i;
      TraceSelectedField(server, rs, index);
    }
  }
};

TEST(RecordTraceTest, SelectedFieldsPerLevel) {
  {
    Record r;
    CaptureServer server(0);
    r.TraceSelected(server);
    EXPECT_TRUE(server.Lines().empty());
    EXPECT_TRUE(r.rec.owned[0]->log.empty());  // nothing read for a level that is off
  }
  {
    Record r;
    CaptureServer server(1);
    r.TraceSelected(server);
    EXPECT_EQ(server.Lines(), (std::vector<TraceLine>{{1, " field name id"},
                                                    {1, " field value 7"},
                                                    {1, " field name note"},
                                                    {1, " field value (empty)"}}));
    // The empty field's value is never read.
    EXPECT_EQ(r.rec.owned[1]->log, (std::vector<std::string>{"Name", "ActualSize"}));
  }
  {
    Record r;
    CaptureServer server(3);
    r.TraceSelected(server);
    EXPECT_EQ(server.Lines(), (std::vector<TraceLine>{{1, " field name id"},
                                                    {3, "  status 0"},
                                                    {3, "  attributes 80"},
                                                    {3, "  type 3"},
                                                    {1, " field value 7"},
                                                    {1, " field name note"},
                                                    {3, "  status 0"},
                                                    {3, "  attributes -1"},
                                                    {3, "  type 202"},
                                                    {1, " field value (empty)"}}));
  }
}

TEST(RecordTraceTest, OddValuesInSelectedFields) {
  Record r;
  r.rec.owned[0]->null_name = true;
  r.rec.owned[0]->SetDouble(2.5);
  r.rec.owned[1]->size = 2;  // a null with a size still shows, as "(null)"
  CaptureServer server(1);
  r.TraceSelected(server);
  EXPECT_EQ(server.Texts(), (std::vector<std::string>{" field name (null)", " field value 2.5",
                                                      " field name note", " field value (null)"}));
}

TEST(RecordTraceTest, UnselectedRecordDisplay) {
  Record r;
  RecordsetPtr rs(&r.rec.rs, true);
  {
    CaptureServer server(1);
    TraceUnselectedRecord(server, rs, ZR_TString(), 3);
    EXPECT_TRUE(server.Lines().empty());
    EXPECT_TRUE(r.rec.rs.log.empty());
  }
  CaptureServer server(2);
  TraceUnselectedRecord(server, rs, ZR_TString(), 3);
  EXPECT_EQ(server.Lines(), (std::vector<TraceLine>{{1, ""},
                                                  {2, "Displaying record set nr 3"},
                                                  {2, "id = 7"},
                                                  {2, "note = (null)"}}));
  // The count is read again before every field, and once more to stop.
  EXPECT_EQ(std::count(r.rec.fields.log.begin(), r.rec.fields.log.end(), "Count"), 3);

  fake::FakeRecord empty;
  server.Clear();
  TraceUnselectedRecord(server, RecordsetPtr(&empty.rs, true), ZR_TString("so far"), 1);
  EXPECT_EQ(server.Lines(), (std::vector<TraceLine>{{1, "so far"}, {2, "Displaying record set nr 1"}}));
}

}  // namespace
