// Test support: the data files that one driver reads. A row is a line cut at
// '|', each field trimmed; blank lines and lines starting with '#' are skipped
// (row_tests.h makes each row a test of its own).
#ifndef GIFIMPORT_TESTS_SUPPORT_TABLE_H
#define GIFIMPORT_TESTS_SUPPORT_TABLE_H

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace testtable {

using Row = std::vector<std::string>;

// A row with where it was read, so that a failure names its line.
struct TableRow {
  Row fields;
  std::string file;
  int line = 0;
  const std::string& operator[](size_t i) const { return fields.at(i); }
  size_t size() const { return fields.size(); }
};

inline void PrintTo(const TableRow& row, std::ostream* out) {
  *out << row.file << ":" << row.line << ":";
  for (const std::string& field : row.fields) *out << " | " << field;
}

// The rows of `path` whose first field begins with `kind` (all when empty),
// read when the tests are registered; none when the file cannot be read.
inline std::vector<TableRow> LoadRows(const std::string& path, const std::string& kind = "") {
  std::vector<TableRow> rows;
  std::ifstream file(path);
  int line = 0;
  for (std::string text; std::getline(file, text);) {
    ++line;
    if (text.find_first_not_of(" \t\r") == std::string::npos || text[0] == '#') continue;
    TableRow row{{}, path, line};
    std::istringstream in(text + "|");
    for (std::string field; std::getline(in, field, '|');) {
      field.erase(0, field.find_first_not_of(" \t"));
      field.erase(field.find_last_not_of(" \t\r") + 1);
      row.fields.push_back(field);
    }
    if (row.fields[0].compare(0, kind.size(), kind) == 0) rows.push_back(row);
  }
  return rows;
}

// The words of `field`, each "X*N" as N copies of X.
inline std::vector<std::string> Words(const std::string& field) {
  std::vector<std::string> words;
  std::istringstream in(field);
  for (std::string word; in >> word;) {
    const size_t star = word.find('*');
    const int copies = star == std::string::npos ? 1 : std::stoi(word.substr(star + 1));
    words.insert(words.end(), static_cast<size_t>(copies), word.substr(0, star));
  }
  return words;
}

// The whole of a file, byte for byte; empty when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

}  // namespace testtable

#endif  // GIFIMPORT_TESTS_SUPPORT_TABLE_H
