#include "tools/simdex/Table.h"

#include <gtest/gtest.h>

namespace simdex::cli {
namespace {

TEST(Table, TextAlignsNumbersRightAndTextLeft) {
  Table t({"name", "n", "mixed"});
  t.AddRow({"a", "1.5", "x"});
  t.AddRow({"longer", "-20", "3"});
  t.AddRow({"é", "1e300", ""});  // two bytes, one character
  EXPECT_EQ(t.ToText(),
            "name        n  mixed\n"
            "------  -----  -----\n"
            "a         1.5  x\n"
            "longer    -20  3\n"
            "é       1e300\n");
  t.SetAlign(1, Table::Align::kLeft);
  EXPECT_NE(t.ToText().find("longer  -20  "), std::string::npos) << t.ToText();
}

TEST(Table, CsvQuotesOnlyWhatNeedsIt) {
  const struct {
    const char* cell;
    const char* field;
  } kCases[] = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
      {" padded", "\" padded\""},
      {"1.25e-3", "1.25e-3"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Table::CsvField(c.cell), c.field) << c.cell;
  Table t({"id", "note"});
  t.AddRow({"7", "a,b"});
  EXPECT_EQ(t.ToCsv(), "id,note\n7,\"a,b\"\n");
}

}  // namespace
}  // namespace simdex::cli
