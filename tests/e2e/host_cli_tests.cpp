// The gifimport command run as a person runs it, from the table in
// host_cli.txt (its head says what a record holds).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/companion/pictures.h"
#include "tests/support/row_tests.h"

namespace {

namespace fs = std::filesystem;

#ifdef STANDIN_HAVE_PNG
// "TYPE HASH" of a PNG file, or what went wrong.
std::string PngPixels(const std::string& bytes) {
  pictures::Image image;
  if (bytes.size() < 26 || !pictures::ReadPng(bytes, &image)) return "no PNG";
  uint32_t hash = 2166136261u;
  for (uint8_t byte : image.rgba) hash = (hash ^ byte) * 16777619u;
  char text[32];
  std::snprintf(text, sizeof text, "%d %08x", bytes[25], hash);
  return text;
}
#endif

// The files a command left, but for its output and messages.
std::string Files(const fs::path& dir) {
  std::set<std::string> names;  // sorted
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (!entry.is_directory()) names.insert(fs::relative(entry.path(), dir).generic_string());
  std::string out;
  for (const std::string& name : names)
    if (name != "out.bin" && name != "err.txt") out += (out.empty() ? "" : " ") + name;
  return out;
}

// Where NAME.json (info --json) tells another transparency for an image
// than the import gave its bitmap in NAME/bitmaps.tsv (--dump-bitmaps).
std::string TransparencyDiffers(const fs::path& dir, const std::string& name) {
  const std::string json = testtable::ReadBytes(dir / (name + ".json"));
  std::istringstream tsv(testtable::ReadBytes(dir / name / "bitmaps.tsv"));
  const std::regex told(
      R"("localColors":\d+,"transparent":(true|false)(,"transparentIndex":(\d+))?)");
  std::string out, row;
  int images = 0;
  for (std::sregex_iterator m(json.begin(), json.end(), told), end; m != end; ++m) {
    const std::string info = (*m)[1] == "true" ? "transparent " + (*m)[3].str() : "opaque";
    std::vector<std::string> field;
    std::istringstream cells(std::getline(tsv, row) ? row : "");
    for (std::string cell; std::getline(cells, cell, '\t');) field.push_back(cell);
    const std::string drawn = field.size() != 8 ? "no bitmap"
                              : field[6] == "1" ? "transparent " + field[7]
                                                : "opaque";
    ++images;
    if (info != drawn)
      out += " " + name + " image " + std::to_string(images) + ": " + info + ", drawn " + drawn;
  }
  if (images == 0 || std::getline(tsv, row)) out += " " + name + ": bitmaps left over or none";
  return out;
}

// The records of the table, each its lines as one field, at its command's line.
std::vector<testtable::TableRow> Records() {
  std::ifstream table(HOST_CLI_TABLE);
  std::vector<testtable::TableRow> records;
  int number = 0;
  for (std::string line; std::getline(table, line);) {
    ++number;
    if (line.rfind("$ ", 0) == 0) records.push_back({{""}, HOST_CLI_TABLE, number});
    if (!records.empty() && !line.empty() && line[0] != '#')
      records.back().fields[0] += line + "\n";
  }
  return records;
}

class HostCli : public testtable::RowTest<> {};

TEST_P(HostCli, GivesWhatTheRecordSays) {
  std::string lines = row[0], command, line;
  if (lines.find("\nexit ") == std::string::npos) lines += "exit 0\n";
  std::istringstream record(lines);
  std::getline(record, command);
  const fs::path dir =
      fs::temp_directory_path() /
      ("gifimport-host-cli-" + std::to_string(getpid()) + "-" + std::to_string(row.line));
  fs::create_directories(dir);
  const std::string shell = "cd '" + dir.string() + "' && G='" GIFIMPORT_EMULATOR " " +
                            GIFIMPORT_HOST + "' C='" + CASES + "' E='" + EXAMPLES + "' && (" +
                            command.substr(2) + ") </dev/null >out.bin 2>err.txt";
  const int status = std::system(shell.c_str());
  const std::string out = testtable::ReadBytes(dir / "out.bin"),
                    err = testtable::ReadBytes(dir / "err.txt");
  const std::string exited = "exit " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  // Each line of the record as the run gives it: equal when it holds.
  std::string expected, got;
  bool skip = false;
  while (std::getline(record, line)) {
    const std::string key = line.substr(0, line.find(' ')), value = line.substr(key.size() + 1);
    const std::string& text = key == "err" ? err : out;
    std::string now = key == "exit" ? exited : line;
    if (key == "files") now = "files " + Files(dir);
    if (key == "transparency") {
      std::string differs;
      for (const std::string& name : testtable::Words(value))
        differs += TransparencyDiffers(dir, name);
      if (!differs.empty()) now = "transparency differs:" + differs;
    }
    if ((key == "err" || key == "out") && !std::regex_search(text, std::regex(value)))
      now = key + " not found in:\n" + text;
#ifdef STANDIN_HAVE_PNG
    if (key == "png")
      now = "png " + value.substr(0, value.find(' ') + 1) +
            PngPixels(testtable::ReadBytes(dir / value.substr(0, value.find(' '))));
#else
    skip = skip || key == "png";  // no picture without libpng
#endif
    expected += line + "\n";
    got += now + "\n";
  }
  EXPECT_EQ(skip ? expected : got, expected) << err;
  fs::remove_all(dir);
}
INSTANTIATE_TEST_SUITE_P(Rows, HostCli, testing::ValuesIn(Records()), testtable::NameBy(-1));
TEST(HostCli_Table, Rows) { EXPECT_GT(Records().size(), 10u); }

}  // namespace
