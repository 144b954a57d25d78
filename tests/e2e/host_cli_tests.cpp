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
#include "tests/support/gif_writer.h"
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

// A PNG file's pixels; false where the stand-in reads no PNG (the tests
// that need one skip there).
bool ReadPngFile(const fs::path& path, pictures::Image* image) {
#ifdef STANDIN_HAVE_PNG
  return pictures::ReadPng(testtable::ReadBytes(path), image);
#else
  (void)path, (void)image;
  return false;
#endif
}

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
    const std::string key = line.substr(0, line.find(' ')),
                      value = line.size() > key.size() ? line.substr(key.size() + 1) : "";
    const std::string& text = key == "err" ? err : out;
    std::string now = key == "exit" ? exited : line;
    if (key == "files") now = "files" + (Files(dir).empty() ? "" : " " + Files(dir));
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

// ---- Frames against ImageMagick's coalesce -----------------------------------

// Runs a shell command in `dir`; its exit status.
int RunIn(const fs::path& dir, const std::string& command) {
  const int status = std::system(("cd '" + dir.string() + "' && " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ImageMagick's convert, and not another program of that name.
bool HaveImageMagick() {
  static const bool found = std::system("convert -version 2>/dev/null | grep -q ImageMagick") == 0;
  return found;
}

// The GIF of an "anim" row (frames.txt says how it reads).
gifwrite::Bytes AnimationOf(const std::string& screen, const std::string& frames) {
  const int screenWidth = std::stoi(screen),
            screenHeight = std::stoi(screen.substr(screen.find('x') + 1));
  std::vector<gifwrite::Color> global, local;
  for (int i = 0; i < 8; ++i) {
    global.push_back({uint8_t(i * 36), uint8_t(255 - i * 30), uint8_t(i & 1 ? 200 : 40)});
    local.push_back({uint8_t(250 - i * 20), uint8_t(i * 17), uint8_t(i * 33)});
  }
  // The background, entry 7, is no frame's colour (see Normalised).
  gifwrite::GifBuilder gif(uint16_t(screenWidth), uint16_t(screenHeight), global, "89a", 7);
  std::istringstream list(frames);
  int number = 0;
  for (std::string spec; std::getline(list, spec, ';'); ++number) {
    std::istringstream words(spec);
    std::string place, word;
    words >> place;
    int left = 0, top = 0, width = 0, height = 0, transparent = -1;
    std::sscanf(place.c_str() + place.find('@') + 1, "%d,%d:%dx%d", &left, &top, &width, &height);
    gifwrite::Image image;
    image.left = uint16_t(left), image.top = uint16_t(top);
    image.width = uint16_t(width), image.height = uint16_t(height);
    while (words >> word) {
      if (word == "local") image.localColors = local;
      if (word[0] == 't') transparent = std::stoi(word.substr(1));
    }
    if (place[0] != '-')
      gif.GraphicControl(transparent >= 0, uint8_t(std::max(transparent, 0)), place[0] - '0',
                         uint16_t(10 * (number + 1)));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        image.pixels.push_back(uint8_t((x + 2 * y + 3 * number) / 2 % 7));
    gif.AddImage(image);
  }
  return gif.Trailer().bytes();
}

// Transparent pixels alike whatever colour they hold. ImageMagick starts
// the screen outside the first frame with the background colour, where
// browsers and gifimport leave it transparent (--background: that colour
// everywhere, and background disposal clears to it, where ImageMagick
// clears to transparent): `background`, a colour no written frame holds,
// is taken as transparent.
std::vector<uint8_t> Normalised(std::vector<uint8_t> rgba, const uint8_t* background = nullptr) {
  for (size_t i = 0; i < rgba.size(); i += 4) {
    if (background && std::equal(background, background + 3, &rgba[i]) && rgba[i + 3] == 0xFF)
      rgba[i + 3] = 0;
    if (rgba[i + 3] == 0) rgba[i] = rgba[i + 1] = rgba[i + 2] = 0;
  }
  return rgba;
}

class Frames : public testtable::RowTest<> {};

// Known differences from ImageMagick besides the background (Normalised):
// a plain text's lines are drawn on the frame they follow, where ImageMagick
// draws none (so plaintext.gif is not a row); a frame without a control
// block of its own keeps the transparency of the one before in the filter,
// not in ImageMagick; ImageMagick 6 refuses a frame wholly outside the
// screen that another follows ("width or height exceeds limit").
TEST_P(Frames, EqualImageMagicksCoalesce) {
#ifndef STANDIN_HAVE_PNG
  GTEST_SKIP() << "the stand-in writes no PNG in this build";
#endif
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  const fs::path dir =
      fs::temp_directory_path() / ("gifimport-frames-" + std::to_string(getpid()) + "-" + row[1]);
  fs::remove_all(dir);
  fs::create_directories(dir);
  if (row[0] == "gif") {
    fs::copy_file(fs::path(SOURCE_ROOT) / row[2], dir / "anim.gif");
  } else {
    ASSERT_TRUE(gifwrite::WriteFile((dir / "anim.gif").string(), AnimationOf(row[2], row[3])));
  }
  ASSERT_EQ(RunIn(dir, std::string(GIFIMPORT_EMULATOR " ") + GIFIMPORT_HOST +
                           " import anim.gif --frames -d out -q"),
            0);
  ASSERT_EQ(RunIn(dir,
                  "convert anim.gif -coalesce -depth 8 RGBA:coalesced.rgba && convert "
                  "anim.gif -format '%T %D\\n' info: >coalesced.txt"),
            0);
  const std::string coalesced = testtable::ReadBytes(dir / "coalesced.rgba");
  const uint8_t background[3] = {7 * 36, 255 - 7 * 30, 200};
  std::istringstream table(testtable::ReadBytes(dir / "out" / "frames.tsv")),
      told(testtable::ReadBytes(dir / "coalesced.txt"));
  size_t at = 0;
  int number = 0;
  for (std::string line, theirs; std::getline(told, theirs); ++number) {
    pictures::Image frame;
    char name[32];
    std::snprintf(name, sizeof name, "anim-%03d.png", number + 1);
    ASSERT_TRUE(ReadPngFile(dir / "out" / name, &frame)) << name;
    const size_t bytes = frame.rgba.size();
    ASSERT_LE(at + bytes, coalesced.size()) << name << ": ImageMagick's frames are smaller";
    EXPECT_EQ(Normalised(frame.rgba),
              Normalised(std::vector<uint8_t>(coalesced.begin() + long(at),
                                              coalesced.begin() + long(at + bytes)),
                         row[0] == "anim" ? background : nullptr))
        << name;
    at += bytes;
    // Delay and disposal as ImageMagick names them ("10 Background").
    std::vector<std::string> field;
    std::istringstream cells(std::getline(table, line) ? line : "");
    for (std::string cell; std::getline(cells, cell, '\t');) field.push_back(cell);
    ASSERT_EQ(field.size(), 7u) << line;
    const std::string method = field[2] == "none"         ? "Undefined"
                               : field[2] == "keep"       ? "None"
                               : field[2] == "background" ? "Background"
                               : field[2] == "previous"   ? "Previous"
                                                          : "Unrecognized";
    EXPECT_EQ(std::to_string(std::stoi(field[1]) / 10) + " " + method, theirs) << name;
  }
  EXPECT_GT(number, 0);
  EXPECT_EQ(at, coalesced.size()) << "ImageMagick has more frames or larger ones";
  std::string rest;
  EXPECT_FALSE(std::getline(table, rest)) << "frames.tsv has more lines: " << rest;
  fs::remove_all(dir);
}
TESTTABLE_ROWS(Frames, FRAMES_TABLE, "", 12, 1);

// An 8000 x 8000 animation (a screen-wide frame, then one to be put back
// under a 4000 x 4000 one) composes in one canvas and one saved rectangle:
// within 400 MiB, where a canvas a frame would take 768 MiB; with less than
// a canvas, the frame is refused and nothing written.
TEST(FramesMemory, ALargeAnimationTakesOneCanvas) {
#ifndef STANDIN_HAVE_PNG
  GTEST_SKIP() << "the stand-in writes no PNG in this build";
#endif
  const fs::path dir = fs::temp_directory_path() / ("gifimport-frames-" + std::to_string(getpid()));
  fs::create_directories(dir);
  gifwrite::GifBuilder gif(8000, 8000, {{0, 0, 0}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}});
  const int places[3][5] = {
      {2, 0, 0, 8000, 8000}, {3, 1000, 1000, 4000, 4000}, {1, 0, 0, 100, 100}};
  for (int n = 0; n < 3; ++n) {
    gifwrite::Image image;
    image.left = uint16_t(places[n][1]), image.top = uint16_t(places[n][2]);
    image.width = uint16_t(places[n][3]), image.height = uint16_t(places[n][4]);
    image.pixels.assign(size_t{image.width} * image.height, uint8_t(n + 1));
    gif.GraphicControl(false, 0, places[n][0], 10).AddImage(image);
  }
  ASSERT_TRUE(gifwrite::WriteFile((dir / "big.gif").string(), gif.Trailer().bytes()));
  const std::string host = std::string(GIFIMPORT_EMULATOR " ") + GIFIMPORT_HOST;
  EXPECT_EQ(RunIn(dir, host + " import big.gif --frame last -o big.png -q --max-memory 400M"), 0);
  pictures::Image frame;
  ASSERT_TRUE(ReadPngFile(dir / "big.png", &frame));
  // Frame 2 was put back to the cleared screen, frame 3 drawn on it.
  EXPECT_EQ(frame.Pixel(50, 50)[2], 200);
  EXPECT_EQ(frame.Pixel(2000, 2000)[3], 0);
  EXPECT_EQ(
      RunIn(dir, host + " import big.gif --frame 2 -o small.png -q --max-memory 200M 2>err.txt"),
      1);
  EXPECT_NE(testtable::ReadBytes(dir / "err.txt").find("would pass the memory budget"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "small.png"));
  fs::remove_all(dir);
}

}  // namespace
