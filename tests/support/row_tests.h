// Test support: a table's rows as parameterised GoogleTest cases, each named
// and runnable alone, its failures showing the row's file and line.
#ifndef GIFIMPORT_TESTS_SUPPORT_ROW_TESTS_H
#define GIFIMPORT_TESTS_SUPPORT_ROW_TESTS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "tests/support/table.h"

namespace testtable {

// A test name of [A-Za-z0-9_] for each row, to run it alone: its field
// `nameField`, else its line and its fields' start (from the second's).
inline auto NameBy(int nameField, bool skipFirst = false) {
  return [=](const testing::TestParamInfo<TableRow>& info) {
    const TableRow& row = info.param;
    std::string text = nameField >= 0 ? row[size_t(nameField)] : "", name;
    for (size_t i = skipFirst; nameField < 0 && i < row.size(); ++i) text += " " + row[i];
    for (const char c : nameField >= 0 ? text : "L" + std::to_string(row.line) + text)
      if (std::isalnum(static_cast<unsigned char>(c)) || (!name.empty() && name.back() != '_'))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    name.resize(std::min<size_t>(name.size(), nameField >= 0 ? name.size() : 48));
    while (!name.empty() && name.back() == '_') name.pop_back();
    return name;
  };
}

// A fixture whose parameter is a row; failures show the row's file and line.
template <class Base = testing::Test>
class RowTest : public Base, public testing::WithParamInterface<TableRow> {
 protected:
  const TableRow& row = GetParam();

 private:
  testing::ScopedTrace trace_{row.file.c_str(), row.line, testing::PrintToString(row.fields)};
};

}  // namespace testtable

// Suite's TEST_Ps once per row of `path` of `kind` (named as NameBy says),
// and Suite_Table.Rows, failing unless exactly `count` rows were read: a lost
// file or a misspelt kind fails loudly instead of running no test.
#define TESTTABLE_ROWS(Suite, path, kind, count, ...)                                       \
  INSTANTIATE_TEST_SUITE_P(Rows, Suite, testing::ValuesIn(testtable::LoadRows(path, kind)), \
                           testtable::NameBy(__VA_ARGS__));                                 \
  TEST(Suite##_Table, Rows) {                                                               \
    EXPECT_EQ(testtable::LoadRows(path, kind).size(), count##u) << path;                    \
  }                                                                                         \
  static_assert(true, "a semicolon after the macro")

#endif  // GIFIMPORT_TESTS_SUPPORT_ROW_TESTS_H
