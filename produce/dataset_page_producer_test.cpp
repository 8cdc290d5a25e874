// Tests of the dataset page producer: tags filled from the current record, then the handler.
#include "produce/dataset_page_producer.h"

#include <gtest/gtest.h>

#include <string>

#include "produce/fake_dataset.h"
#include "tests/support/bytes_diff.h"

namespace shelfra {
namespace {

using testing::FakeDataSet;
using testing::FakeFieldDef;
using testing::FakeRecord;

class DataSetPageProducerTest : public ::testing::Test {
 protected:
  DataSetPageProducerTest() { producer_.SetDataSet(&dataset_); }

  TComponent root_{nullptr};
  FakeDataSet& dataset_ = root_.Create<FakeDataSet>(
      "ZoshoTable", std::vector<FakeFieldDef>{{"ISBN"}, {"BARCODE"}, {"Price", TFieldType::ftFloat}},
      std::vector<FakeRecord>{{"4-00-1", "B1", "1234.5"}, {"4-00-2", "B2", std::nullopt}});
  TDataSetPageProducer& producer_ = root_.Create<TDataSetPageProducer>("DataSetPageProducer1");
};

TEST_F(DataSetPageProducerTest, FieldTagsWithoutParametersAreFilledFromTheCurrentRecord) {
  producer_.SetHTMLDoc(TStrings{"<#ISBN>|<#isbn>|<#ISBN x=1>|<#barcode>|<#Price>|<#Title>"});
  EXPECT_FALSE(dataset_.Active());
  EXPECT_BYTES_EQ("4-00-1|4-00-1||B1|1234.5|\r\n", producer_.ProduceContent());
  EXPECT_TRUE(dataset_.Active());  // opened and left open
  dataset_.MoveNext();
  EXPECT_BYTES_EQ("4-00-2|4-00-2||B2||\r\n", producer_.ProduceContent());
  EXPECT_EQ(dataset_.opens, 1);
  EXPECT_EQ(dataset_.RecordIndex(), 1);  // not moved by the producer
}

TEST_F(DataSetPageProducerTest, HandlerSeesThePresetTextAndHasTheLastWord) {
  std::string log;
  producer_.OnHTMLTag = [&log](TComponent&, TTag, const std::string& tag_string, TStrings&,
                               std::string& replace_text) {
    log += tag_string + "=" + replace_text + ";";
    if (tag_string == "BARCODE") replace_text.clear();
    if (tag_string == "Title") replace_text = 'T';
  };
  dataset_.Open();
  EXPECT_EQ(producer_.ProduceFromString("<#ISBN>,<#BARCODE>,<#Title>,<#ISBN a>"), "4-00-1,,T,");
  EXPECT_EQ(log, "ISBN=4-00-1;BARCODE=B1;Title=;ISBN=;");
}

TEST_F(DataSetPageProducerTest, OnlyProduceContentOpensTheDataSet) {
  EXPECT_EQ(producer_.ProduceFromString("[<#ISBN>]"), "[]");
  EXPECT_FALSE(dataset_.Active());
  producer_.SetDataSet(nullptr);
  producer_.SetHTMLDoc(TStrings{"[<#ISBN>]"});
  EXPECT_EQ(producer_.ProduceContent(), "[]\r\n");
  EXPECT_FALSE(dataset_.Active());
}

TEST_F(DataSetPageProducerTest, ForgetsADestroyedDataSet) {
  root_.DestroyComponent(dataset_);
  EXPECT_EQ(producer_.DataSet(), nullptr);
  EXPECT_EQ(producer_.ProduceFromString("[<#ISBN>]"), "[]");
}

}  // namespace
}  // namespace shelfra
