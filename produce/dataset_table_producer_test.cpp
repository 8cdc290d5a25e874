// Tests of the dataset table producer: the exact table markup, row limits, handlers, columns.
#include "produce/dataset_table_producer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "data/field.h"
#include "produce/fake_dataset.h"
#include "tests/support/bytes_diff.h"
#include "tests/support/sjis.h"

namespace shelfra {
namespace {

using testing::FakeDataSet;
using testing::FakeFieldDef;
using testing::FakeRecord;
using testing::Sjis;

// The page of a search, configured as the result list configures it.
TEST(DataSetTableProducerTest, ResultListPageIsExactToTheByte) {
  const char* const columns[] = {"登録番号", "分類記号", "図書記号", "巻冊記号", "書名", "叢書名",
                                 "著者名", "出版者", "出版年", "頁（ｐ）", "大きさ"};
  // The table's own field order differs from the column order and has fields no column shows.
  std::vector<FakeFieldDef> fields = {
      {Sjis("分類記号")}, {Sjis("登録番号"), TFieldType::ftFloat}, {Sjis("図書記号")}, {Sjis("巻冊記号")},
      {Sjis("書名")}, {Sjis("書名ｶﾅ")}, {Sjis("叢書名")}, {Sjis("著者名")}, {Sjis("出版者")},
      {Sjis("出版年")}, {Sjis("頁（ｐ）")}, {Sjis("大きさ")}, {"ISBN"}};
  FakeRecord book = {Sjis("913.6"), "123", Sjis("ナ"), "1", Sjis("吾輩は猫である"), Sjis("ﾜｶﾞﾊｲﾊﾈｺﾃﾞｱﾙ"),
                     std::nullopt, Sjis("夏目漱石"), Sjis("岩波書店"), "1990", "350", "15", "4-00-310101-4"};

  for (bool one_record : {true, false}) {
    TComponent root(nullptr);
    auto& query = root.Create<FakeDataSet>("QueryZosho", fields, one_record ? std::vector<FakeRecord>{book}
                                                                            : std::vector<FakeRecord>{});
    auto& producer = root.Create<TDataSetTableProducer>("DataSetTableProducer1");
    producer.SetCaption(Sjis("棚読(Shelfra)　検索結果一覧"));
    producer.SetCaptionAlignment(THTMLCaptionAlignment::caTop);
    for (const char* name : columns) producer.Columns().Add().SetFieldName(Sjis(name));
    producer.Header().Add("<head>");
    producer.Header().Add(Sjis("<title>棚読(Shelfra)　検索結果一覧</title>"));
    producer.Header().Add("</head>");
    producer.Footer().Add(
        Sjis("<H3 align=\"right\"><A HREF = 'JavaScript:history.back();'>[検索画面に戻る]</a></H3>"));
    producer.SetMaxRows(99999);
    producer.TableAttributes().SetAlign(THTMLAlign::haCenter);
    producer.TableAttributes().SetBgColor("#FCFBE2");
    producer.TableAttributes().SetBorder(1);
    producer.OnFormatCell = [](TComponent&, int cell_row, int cell_column, THTMLBgColor&, THTMLAlign&, THTMLVAlign&,
                               std::string&, std::string& cell_data) {
      if (cell_column == 0 && cell_row > 0) {
        cell_data = "<A HREF=\"/cgi-bin/vovivavi.exe/Detail?NO=" + cell_data + "\">" + cell_data + "</A>";
      }
    };
    producer.SetDataSet(&query);
    query.Open();
    producer.Header().Add(Sjis(one_record ? "該当する資料は1件です" : "該当する資料は0件です"));

    std::string expected = Sjis(
        "<head>\r\n"
        "<title>棚読(Shelfra)　検索結果一覧</title>\r\n"
        "</head>\r\n");
    expected += Sjis(one_record ? "該当する資料は1件です\r\n" : "該当する資料は0件です\r\n");
    expected += Sjis(
        "<Table Width=\"100%\" Align=\"Center\" Border=1 BgColor=\"#FCFBE2\">"
        "<Caption  Align=\"Top\">棚読(Shelfra)　検索結果一覧</Caption>\r\n"
        "<TR><TH>登録番号</TH><TH>分類記号</TH><TH>図書記号</TH><TH>巻冊記号</TH><TH>書名</TH><TH>叢書名</TH>"
        "<TH>著者名</TH><TH>出版者</TH><TH>出版年</TH><TH>頁（ｐ）</TH><TH>大きさ</TH></TR>\r\n");
    if (one_record) {
      expected += Sjis(
          "<TR><TD><A HREF=\"/cgi-bin/vovivavi.exe/Detail?NO=123\">123</A></TD><TD>913.6</TD><TD>ナ</TD>"
          "<TD>1</TD><TD>吾輩は猫である</TD><TD></TD><TD>夏目漱石</TD><TD>岩波書店</TD><TD>1990</TD>"
          "<TD>350</TD><TD>15</TD></TR>\r\n");
    }
    expected += Sjis(
        "</Table><H3 align=\"right\"><A HREF = 'JavaScript:history.back();'>[検索画面に戻る]</a></H3>\r\n");
    EXPECT_BYTES_EQ(expected, producer.ProduceContent()) << "one record: " << one_record;
    EXPECT_TRUE(query.AtEnd());
  }
}

class TableProducerTest : public ::testing::Test {
 protected:
  TableProducerTest() {
    producer_.SetDataSet(&dataset_);
    producer_.Columns().Add().SetFieldName("A");
  }

  static std::vector<FakeRecord> Records(int count) {
    std::vector<FakeRecord> records;
    for (int i = 1; i <= count; ++i) records.push_back({"a" + std::to_string(i), "b" + std::to_string(i), "c"});
    return records;
  }

  TComponent root_{nullptr};
  FakeDataSet& dataset_ = root_.Create<FakeDataSet>(
      "Data", std::vector<FakeFieldDef>{{"A"}, {"B"}, {"ISBN"}}, Records(5));
  TDataSetTableProducer& producer_ = root_.Create<TDataSetTableProducer>("Producer");
};

TEST_F(TableProducerTest, MaxRowsLimitsTheRowsAndLeavesTheDataSetAfterTheLastOne) {
  struct Case {
    int max_rows;
    std::string rows;
    int record_after;
  };
  const Case cases[] = {
      {0, "", 0},
      {-1, "<TR><TD>a1</TD></TR>\r\n<TR><TD>a2</TD></TR>\r\n<TR><TD>a3</TD></TR>\r\n<TR><TD>a4</TD></TR>\r\n"
           "<TR><TD>a5</TD></TR>\r\n", 5},
      {2, "<TR><TD>a1</TD></TR>\r\n<TR><TD>a2</TD></TR>\r\n", 2},
      {20, "<TR><TD>a1</TD></TR>\r\n<TR><TD>a2</TD></TR>\r\n<TR><TD>a3</TD></TR>\r\n<TR><TD>a4</TD></TR>\r\n"
           "<TR><TD>a5</TD></TR>\r\n", 5},
  };
  for (const Case& c : cases) {
    dataset_.Close();
    dataset_.Open();
    producer_.SetMaxRows(c.max_rows);
    EXPECT_BYTES_EQ("<Table Width=\"100%\">\r\n<TR><TH>A</TH></TR>\r\n" + c.rows + "</Table>",
                    producer_.ProduceContent())
        << "MaxRows " << c.max_rows;
    EXPECT_EQ(dataset_.RecordIndex(), c.record_after) << "MaxRows " << c.max_rows;
  }
}

TEST_F(TableProducerTest, SecondCallContinuesWhereTheFirstStopped) {
  dataset_.Open();
  producer_.SetMaxRows(2);
  std::vector<int> rows_seen;
  producer_.OnFormatCell = [&rows_seen](TComponent&, int cell_row, int, THTMLBgColor&, THTMLAlign&, THTMLVAlign&,
                                        std::string&, std::string&) { rows_seen.push_back(cell_row); };
  producer_.ProduceContent();
  EXPECT_BYTES_EQ("<Table Width=\"100%\">\r\n<TR><TH>A</TH></TR>\r\n<TR><TD>a3</TD></TR>\r\n"
                  "<TR><TD>a4</TD></TR>\r\n</Table>",
                  producer_.ProduceContent());
  EXPECT_EQ(rows_seen, (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST_F(TableProducerTest, NoDataSetClosedDataSetAndVeto) {
  producer_.Header().Add("h");
  producer_.Footer().Add("f");
  // Closed: the header row only, framed by header and footer.
  EXPECT_BYTES_EQ("h\r\n<Table Width=\"100%\">\r\n<TR><TH>A</TH></TR>\r\n</Table>f\r\n", producer_.ProduceContent());
  dataset_.Open();
  bool vetoed = false;
  producer_.OnCreateContent = [&vetoed](TComponent&, bool& continue_producing) {
    EXPECT_TRUE(continue_producing);
    continue_producing = !vetoed;
  };
  vetoed = true;
  EXPECT_EQ(producer_.ProduceContent(), "");
  EXPECT_EQ(dataset_.RecordIndex(), 0);
  producer_.SetDataSet(nullptr);
  vetoed = false;
  EXPECT_EQ(producer_.ProduceContent(), "");
}

TEST(DataSetTableProducerTest, TableTagAndCaptionAttributes) {
  struct Case {
    std::function<void(TDataSetTableProducer&)> configure;
    std::string first_line;
  };
  const Case cases[] = {
      {[](TDataSetTableProducer&) {}, "<Table Width=\"100%\">"},
      {[](TDataSetTableProducer& p) { p.TableAttributes().SetWidth(0); }, "<Table>"},
      {[](TDataSetTableProducer& p) { p.TableAttributes().SetWidth(-5); }, "<Table>"},
      {[](TDataSetTableProducer& p) { p.TableAttributes().SetBorder(0); }, "<Table Width=\"100%\" Border=0>"},
      {[](TDataSetTableProducer& p) {
         THTMLTableAttributes& a = p.TableAttributes();
         a.SetWidth(50);
         a.SetAlign(THTMLAlign::haLeft);
         a.SetCellSpacing(0);
         a.SetCellPadding(2);
         a.SetBorder(3);
         a.SetBgColor("red");
         a.SetCustom("id=t");
       },
       "<Table Width=\"50%\" Align=\"Left\" CellSpacing=0 CellPadding=2 Border=3 BgColor=\"red\" id=t>"},
      {[](TDataSetTableProducer& p) { p.SetCaption("C"); }, "<Table Width=\"100%\"><Caption >C</Caption>"},
      {[](TDataSetTableProducer& p) {
         p.SetCaption("C");
         p.SetCaptionAlignment(THTMLCaptionAlignment::caBottom);
       },
       "<Table Width=\"100%\"><Caption  Align=\"Bottom\">C</Caption>"},
      {[](TDataSetTableProducer& p) {
         p.SetCaption("C");
         p.OnGetTableCaption = [](TComponent&, std::string& caption, THTMLCaptionAlignment& alignment) {
           EXPECT_EQ(caption, "C");
           EXPECT_EQ(alignment, THTMLCaptionAlignment::caDefault);
           caption = "D<&";
           alignment = THTMLCaptionAlignment::caTop;
         };
       },
       "<Table Width=\"100%\"><Caption  Align=\"Top\">D<&</Caption>"},
      {[](TDataSetTableProducer& p) {
         p.SetCaption("C");
         p.OnGetTableCaption = [](TComponent&, std::string& caption, THTMLCaptionAlignment&) { caption.clear(); };
       },
       "<Table Width=\"100%\">"},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    TComponent root(nullptr);
    auto& dataset = root.Create<FakeDataSet>("D", std::vector<FakeFieldDef>{{"A"}}, std::vector<FakeRecord>{});
    auto& producer = root.Create<TDataSetTableProducer>("P");
    producer.SetDataSet(&dataset);
    cases[i].configure(producer);
    EXPECT_BYTES_EQ(cases[i].first_line + "\r\n<TR></TR>\r\n</Table>", producer.ProduceContent()) << "case " << i;
  }
}

TEST_F(TableProducerTest, FormatCellChangesOneCellOnly) {
  dataset_.Open();
  producer_.Columns().Add().SetFieldName("B");
  producer_.SetMaxRows(2);
  producer_.RowAttributes().SetVAlign(THTMLVAlign::haBaseline);
  producer_.RowAttributes().SetBgColor("#fff");
  producer_.Columns()[1].SetCustom("nowrap");
  producer_.Columns()[1].Title().SetAlign(THTMLAlign::haCenter);
  std::string calls;
  producer_.OnFormatCell = [&](TComponent& sender, int cell_row, int cell_column, THTMLBgColor& bg_color,
                               THTMLAlign& align, THTMLVAlign& valign, std::string& custom_attrs,
                               std::string& cell_data) {
    EXPECT_EQ(&sender, &producer_);
    calls += std::to_string(cell_row) + "," + std::to_string(cell_column) + ";";
    if (cell_row == 0 && cell_column == 0) cell_data = "Title<&";
    if (cell_row == 1 && cell_column == 1) {
      EXPECT_EQ(custom_attrs, "nowrap");
      align = THTMLAlign::haRight;
      valign = THTMLVAlign::haMiddle;
      bg_color = "blue";
      custom_attrs = "x=1";
      cell_data += "&<";
    }
  };
  EXPECT_BYTES_EQ(
      "<Table Width=\"100%\">\r\n"
      "<TR VAlign=\"Basline\" BgColor=\"#fff\"><TH>Title<&</TH><TH Align=\"Center\">B</TH></TR>\r\n"
      "<TR VAlign=\"Basline\" BgColor=\"#fff\"><TD>a1</TD>"
      "<TD Align=\"Right\" VAlign=\"Middle\" BgColor=\"blue\" x=1>b1&<</TD></TR>\r\n"
      "<TR VAlign=\"Basline\" BgColor=\"#fff\"><TD>a2</TD><TD nowrap>b2</TD></TR>\r\n"
      "</Table>",
      producer_.ProduceContent());
  EXPECT_EQ(calls, "0,0;0,1;1,0;1,1;2,0;2,1;");
}

TEST_F(TableProducerTest, ColumnTitlesAndUnboundColumns) {
  dataset_.Open();
  producer_.Columns().Add().SetFieldName("Nothing");
  producer_.Columns().Add();  // no field name at all
  producer_.Columns().Add().SetFieldName("isbn");
  producer_.Columns().Add().SetFieldName("B");
  producer_.Columns()[4].Title().SetCaption("Bee");
  dataset_.FieldNamed("A").SetDisplayLabel("Label");
  producer_.SetMaxRows(1);
  EXPECT_BYTES_EQ(
      "<Table Width=\"100%\">\r\n"
      "<TR><TH>Label</TH><TH>Nothing</TH><TH>THTMLTableColumn</TH><TH>ISBN</TH><TH>Bee</TH></TR>\r\n"
      "<TR><TD>a1</TD><TD></TD><TD></TD><TD>c</TD><TD>b1</TD></TR>\r\n"
      "</Table>",
      producer_.ProduceContent());
  EXPECT_EQ(producer_.Columns()[3].FieldName(), "ISBN");  // the field's own spelling
}

TEST_F(TableProducerTest, BindingsFollowTheDataSetAcrossCloseAndReopen) {
  producer_.SetMaxRows(1);
  dataset_.Open();
  EXPECT_NE(producer_.Columns()[0].Field(), nullptr);
  dataset_.Close();  // the fields die
  EXPECT_EQ(producer_.Columns()[0].Field(), nullptr);
  EXPECT_BYTES_EQ("<Table Width=\"100%\">\r\n<TR><TH>A</TH></TR>\r\n</Table>", producer_.ProduceContent());
  dataset_.Open();
  EXPECT_BYTES_EQ("<Table Width=\"100%\">\r\n<TR><TH>A</TH></TR>\r\n<TR><TD>a1</TD></TR>\r\n</Table>",
                  producer_.ProduceContent());
}

TEST_F(TableProducerTest, AutomaticColumnsShowEveryFieldInFieldOrder) {
  producer_.Columns().Clear();
  producer_.SetMaxRows(1);
  dataset_.Open();
  ASSERT_EQ(producer_.Columns().Count(), 3);
  EXPECT_EQ(producer_.Columns()[0].ClassName(), "TDefaultHTMLTableColumn");
  EXPECT_BYTES_EQ(
      "<Table Width=\"100%\">\r\n<TR><TH>A</TH><TH>B</TH><TH>ISBN</TH></TR>\r\n"
      "<TR><TD>a1</TD><TD>b1</TD><TD>c</TD></TR>\r\n</Table>",
      producer_.ProduceContent());
  dataset_.Close();
  EXPECT_EQ(producer_.Columns().Count(), 0);
  EXPECT_BYTES_EQ("<Table Width=\"100%\">\r\n<TR></TR>\r\n</Table>", producer_.ProduceContent());
  dataset_.Open();
  EXPECT_EQ(producer_.Columns().Count(), 3);
  // A configured column pushes the automatic ones out.
  producer_.Columns().Add().SetFieldName("B");
  ASSERT_EQ(producer_.Columns().Count(), 1);
  EXPECT_BYTES_EQ("<Table Width=\"100%\">\r\n<TR><TH>B</TH></TR>\r\n<TR><TD>b1</TD></TR>\r\n</Table>",
                  producer_.ProduceContent());
}

TEST(DataSetTableProducerLifetimeTest, EitherSideMayDieFirst) {
  TComponent root(nullptr);
  auto* dataset = &root.Create<FakeDataSet>("D", std::vector<FakeFieldDef>{{"A"}}, std::vector<FakeRecord>{{"x"}});
  auto* producer = &root.Create<TDataSetTableProducer>("P");
  producer->SetDataSet(dataset);
  dataset->Open();
  producer->ProduceContent();
  root.DestroyComponent(*dataset);
  EXPECT_EQ(producer->DataSet(), nullptr);
  EXPECT_EQ(producer->Columns().Count(), 0);
  EXPECT_EQ(producer->ProduceContent(), "");

  dataset = &root.Create<FakeDataSet>("D2", std::vector<FakeFieldDef>{{"A"}}, std::vector<FakeRecord>{{"x"}});
  producer->SetDataSet(dataset);
  dataset->Open();
  producer->ProduceContent();
  root.DestroyComponent(*producer);
  dataset->Close();  // must not reach the destroyed producer
  dataset->Open();
}

}  // namespace
}  // namespace shelfra
