// The gifimport command run as a person runs it: pictures read back and
// checked against the GIF, files left as they were when an import fails,
// several inputs, standard input and output, the messages, info --json.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifdef STANDIN_HAVE_PNG
#include <png.h>
#endif

#include "tests/support/gif_writer.h"

namespace {

namespace fs = std::filesystem;
using gifwrite::Bytes;
using gifwrite::Color;
using gifwrite::GifBuilder;
using gifwrite::Image;

// One directory per test: ctest runs them side by side.
fs::path kDir;

struct HostRun {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
fs::path Put(const std::string& name, const Bytes& bytes) {
  Put(kDir / name, std::string(bytes.begin(), bytes.end()));
  return kDir / name;
}

// The host with `args` (a shell word list, run in kDir), stdin from `in`.
HostRun Host(const std::string& args, const std::string& in = "/dev/null") {
  const std::string command = std::string("cd '") + kDir.string() + "' && " + GIFIMPORT_EMULATOR +
                              " '" + GIFIMPORT_HOST + "' " + args + " <" + in +
                              " >out.bin 2>err.txt";
  HostRun run;
  const int status = std::system(command.c_str());
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = Slurp(kDir / "out.bin");
  run.err = Slurp(kDir / "err.txt");
  return run;
}

const std::vector<Color> kColors = {{0, 0, 0}, {250, 0, 0}, {0, 250, 0}, {0, 0, 250}};
const std::vector<Color> kLocal = {{9, 9, 9}, {200, 100, 0}};

Image Pattern(uint16_t left, uint16_t top, uint16_t width, uint16_t height, int colors,
              std::vector<Color> local = {}) {
  Image image{left, top, width, height, false, local, {}, 0, {}, {}};
  for (int i = 0; i < width * height; ++i)
    image.pixels.push_back(static_cast<uint8_t>((i * 7 / 3) % colors));
  return image;
}

// What a GIF's picture shows: images in order, transparent indices left
// out; rgba 0 where nothing is drawn, or `background` opaque.
struct Layer {
  Image image;
  int transparent;  // -1: none
  std::vector<Color> palette;
};
[[maybe_unused]] std::vector<uint8_t> Expected(int width, int height,
                                               const std::vector<Layer>& layers,
                                               const Color* background) {
  std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4, 0);
  for (size_t i = 0; background && i < rgba.size(); i += 4) {
    rgba[i] = background->r, rgba[i + 1] = background->g, rgba[i + 2] = background->b,
    rgba[i + 3] = 255;
  }
  for (const Layer& layer : layers) {
    const Image& m = layer.image;
    for (int y = 0; y < m.height; ++y)
      for (int x = 0; x < m.width; ++x) {
        const int index = m.pixels[static_cast<size_t>(y) * m.width + x];
        if (index == layer.transparent) continue;
        uint8_t* p = &rgba[((static_cast<size_t>(m.top) + y) * width + m.left + x) * 4];
        const Color c = layer.palette[static_cast<size_t>(index)];
        p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = 255;
      }
  }
  return rgba;
}

class HostCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per process: checkouts and presets may run these at once.
    kDir = fs::temp_directory_path() / ("gifimport-host-cli-" + std::to_string(getpid())) /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(kDir);
    fs::create_directories(kDir);
  }
  void TearDown() override { fs::remove_all(kDir.parent_path()); }
};

#ifdef STANDIN_HAVE_PNG
// The PNG's colour type (3 palette, 6 RGBA) and its pixels as RGBA.
bool ReadPng(const std::string& bytes, int* colorType, std::vector<uint8_t>* rgba) {
  if (bytes.size() < 26) return false;
  *colorType = static_cast<unsigned char>(bytes[25]);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  rgba->assign(PNG_IMAGE_SIZE(image), 0);
  return png_image_finish_read(&image, nullptr, rgba->data(), 0, nullptr) != 0;
}

TEST_F(HostCli, PicturesKeepTransparencyAndUseAPaletteWhenOneFits) {
  const Image full = Pattern(0, 0, 12, 8, 4), inner = Pattern(3, 2, 6, 5, 4),
              local = Pattern(1, 1, 5, 4, 2, kLocal);
  // Every one of 256 entries drawn: no entry is left for empty pixels, and
  // none is needed where the image covers the screen.
  std::vector<Color> gray;
  for (int i = 0; i < 256; ++i) gray.push_back({uint8_t(i), uint8_t(i), uint8_t(255 - i)});
  Image all256 = Pattern(0, 0, 16, 16, 4);
  for (size_t i = 0; i < all256.pixels.size(); ++i) all256.pixels[i] = uint8_t(i * 7);
  Image corner = all256;
  corner.left = 1;
  const struct {
    const char* name;
    Bytes gif;
    std::vector<Layer> layers;
    const char* args;
    int colorType;
  } cases[] = {
      {"one transparent image smaller than the screen",
       GifBuilder(12, 8, kColors, "89a", 2)
           .GraphicControl(true, 1)
           .AddImage(inner)
           .Trailer()
           .bytes(),
       {{inner, 1, kColors}},
       "",
       3},
      {"the same with the background asked for",
       GifBuilder(12, 8, kColors, "89a", 2)
           .GraphicControl(true, 1)
           .AddImage(inner)
           .Trailer()
           .bytes(),
       {{inner, 1, kColors}},
       "--background",
       3},
      {"two images sharing the global palette, the second transparent",
       GifBuilder(12, 8, kColors)
           .AddImage(full)
           .GraphicControl(true, 0)
           .AddImage(inner)
           .Trailer()
           .bytes(),
       {{full, -1, kColors}, {inner, 0, kColors}},
       "-c 9",
       3},
      {"a local palette: RGBA",
       GifBuilder(12, 8, kColors)
           .GraphicControl(true, 3)
           .AddImage(inner)
           .GraphicControl(true, 0)
           .AddImage(local)
           .Trailer()
           .bytes(),
       {{inner, 3, kColors}, {local, 0, kLocal}},
       "--compression=0",
       6},
      {"256 colours covering the screen",
       GifBuilder(16, 16, gray).AddImage(all256).Trailer().bytes(),
       {{all256, -1, gray}},
       "",
       3},
      {"256 colours leaving a column empty: RGBA",
       GifBuilder(17, 16, gray).AddImage(corner).Trailer().bytes(),
       {{corner, -1, gray}},
       "",
       6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put("in.gif", c.gif);
    const HostRun run = Host(std::string("import in.gif -o pic.png ") + c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    int colorType = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(ReadPng(Slurp(kDir / "pic.png"), &colorType, &rgba));
    EXPECT_EQ(colorType, c.colorType);
    const Color background = kColors[2];
    EXPECT_EQ(rgba, Expected(c.gif[6], c.gif[8], c.layers,
                             std::string(c.args) == "--background" ? &background : nullptr));
  }
}

TEST_F(HostCli, StandardInputAndOutputGiveTheSamePictureAsFiles) {
  const fs::path gif =
      Put("in.gif", GifBuilder(12, 8, kColors).AddImage(Pattern(0, 0, 12, 8, 4)).Trailer().bytes());
  ASSERT_EQ(Host("import in.gif -o file.png").status, 0);
  for (const char* args :
       {"import - -o - -q", "import --stream - --output=- --format png", "import -m - -o -"}) {
    const HostRun run = Host(args, gif.string());
    EXPECT_EQ(run.status, 0) << args << run.err;
    EXPECT_TRUE(run.out == Slurp(kDir / "file.png")) << args;
  }
}
#endif

// One message a failure, saying where reading stopped; a target that
// existed is left as it was, and nothing else is left beside it.
TEST_F(HostCli, FailuresSayWhereReadingStoppedAndLeaveTheTargetAlone) {
  const Bytes good = GifBuilder(12, 8, kColors).AddImage(Pattern(0, 0, 12, 8, 4)).Trailer().bytes();
  const Bytes truncated(good.begin(), good.end() - 9);
  Bytes unknown(good.begin(), good.end() - 1);
  for (const uint8_t b : {0x21, 0x99, 0x00, 0x3B}) unknown.push_back(b);
  const struct {
    const char* name;
    Bytes gif;
    std::string message;
  } cases[] = {
      {"truncated", truncated,
       "truncated.gif: .*\\(error 21\\); reading stopped at byte " +
           std::to_string(truncated.size()) + " of " + std::to_string(truncated.size()) +
           ", in image 1 of 1 \\(the file ends inside the data of image 1\\)\n"},
      {"unknown", unknown,
       "unknown.gif: .*\\(error 21\\); reading stopped at byte " + std::to_string(good.size() + 1) +
           " of " + std::to_string(unknown.size()) +
           ", after image 1 of 1 \\(an extension of unknown label 0x99 at byte " +
           std::to_string(good.size() - 1) + "\\)\n"},
  };
  for (const auto& c : cases) {
    for (const char* way : {"", "--memory", "--stream"}) {
      SCOPED_TRACE(std::string(c.name) + " " + way);
      Put(std::string(c.name) + ".gif", c.gif);
      Put(kDir / "old.png", "old picture");
      const HostRun run = Host(std::string("import ") + c.name + ".gif -o old.png " + way);
      EXPECT_EQ(run.status, 1);
      EXPECT_TRUE(std::regex_match(run.err, std::regex("gifimport: [^\n]*" + c.message)))
          << run.err;
      EXPECT_EQ(Slurp(kDir / "old.png"), "old picture");
    }
  }
  // Ctrl-C while the host waits for its input: cancelled, the target as it was.
  const std::string interrupted = "cd '" + kDir.string() + "' && mkfifo fifo.gif || exit 9; " +
                                  GIFIMPORT_EMULATOR + " '" + GIFIMPORT_HOST +
                                  "' import fifo.gif -o old.png 2>err.txt & "
                                  "exec 3>fifo.gif; kill -INT $!; exec 3>&-; wait $!";
  EXPECT_EQ(WEXITSTATUS(std::system(interrupted.c_str())), 130);
  EXPECT_EQ(Slurp(kDir / "err.txt"), "gifimport: fifo.gif: the import was cancelled\n");
  EXPECT_EQ(Slurp(kDir / "old.png"), "old picture");
#ifdef STANDIN_HAVE_PNG  // without libpng no picture can be written
  // Several files, one failing: the others written, the failure said once.
  Put("a.gif", good);
  Put("c.gif", good);
  const HostRun run = Host("import a.gif truncated.gif missing.gif c.gif --output-dir outs");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(std::regex_match(
      run.err, std::regex("gifimport: truncated.gif: [^\n]*\n"
                          "gifimport: cannot open missing.gif: No such file or directory\n")))
      << run.err;
  std::vector<std::string> written;
  for (const auto& entry : fs::directory_iterator(kDir / "outs"))
    written.push_back(entry.path().filename().string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"a.png", "c.png"}));
#endif
}

// Refused before any work: nothing written, status 2 (1 for a profile
// that cannot be read or an output that is the input).
TEST_F(HostCli, BadRequestsAreRefusedBeforeAnyWork) {
  Put("in.gif", GifBuilder(4, 4, kColors).AddImage(Pattern(0, 0, 4, 4, 4)).Trailer().bytes());
  const struct {
    const char* args;
    int status;
    const char* message;
  } cases[] = {
      {"import in.gif -o out.bmp", 2, "cannot tell the format of 'out.bmp'"},
      {"import in.gif -o out.png --format=svg", 2, "'out.png' does not end in .svg"},
      {"import in.gif --format gif -o out.png", 2, "--format takes png or svg"},
      {"import in.gif in.gif -o out.png", 2, "with several files, use --output-dir"},
      {"import in.gif -o out.png -c 10", 2, "--compression takes a level from 0 to 9"},
      {"import in.gif --output", 2, "--output needs a value"},
      {"import in.gif --quiet=1", 2, "--quiet takes no value"},
      {"import in.gif -o in.gif --format png", 1, "is the input itself"},
      {"import in.gif -o out.png --profile nosuch.INI", 1, "cannot read the profile nosuch.INI"},
      {"setup --profile ./nosuch.INI", 1, "cannot read the profile ./nosuch.INI: No such file"},
      {"metafile in.gif -o out.png", 2, "name the output .emf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const HostRun run = Host(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(kDir / "out.png"));
  }
  EXPECT_EQ(Host("import in.gif --verbose -q").err.find("filter module"), 11u);
}

// Nothing to read gets one answer by every road and command: the filter's
// for empty input, the host's for a directory it cannot read.
TEST_F(HostCli, EmptyInputsGetOneAnswerOnEveryRoad) {
  Put(kDir / "empty.gif", "");
  fs::create_directories(kDir / "dir");
  const struct {
    const char* input;
    const char* message;
  } cases[] = {{"empty.gif", "empty.gif: the GIF cannot be read: it ends early"},
               {"/dev/null", "/dev/null: the GIF cannot be read: it ends early"},
               {"dir", "gifimport: cannot read dir: it is a directory"}};
  for (const auto& c : cases) {
    for (const char* command : {"info", "import", "metafile"}) {
      for (const char* way : {"", " --memory", " --stream"}) {
        const std::string args = std::string(command) + " " + c.input + way;
        const HostRun run = Host(args);
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << args << ": " << run.err;
        EXPECT_EQ(run.err.find(" (error 21)") != std::string::npos, c.input[0] != 'd') << args;
      }
    }
  }
}

// A flat JSON reader: every scalar under its path ("images.1.left").
void Flatten(const std::string& json, size_t* at, const std::string& path,
             std::map<std::string, std::string>* out) {
  auto skip = [&] {
    while (*at < json.size() && json[*at] == ' ') ++*at;
  };
  skip();
  const char c = json[*at];
  if (c == '{' || c == '[') {
    ++*at;
    for (int i = 0; skip(), json[*at] != (c == '{' ? '}' : ']'); ++i) {
      std::string key = std::to_string(i);
      if (c == '{') {
        const size_t end = json.find('"', *at + 1);
        key = json.substr(*at + 1, end - *at - 1);
        *at = end + 2;  // past the quote and the colon
      }
      Flatten(json, at, path.empty() ? key : path + "." + key, out);
      skip();
      if (json[*at] == ',') ++*at;
    }
    ++*at;
    return;
  }
  size_t end = *at;
  if (c == '"') {
    while (json[++end] != '"') end += json[end] == '\\';
    ++end;
  } else {
    while (end < json.size() && json[end] != ',' && json[end] != '}' && json[end] != ']') ++end;
  }
  (*out)[path] = json.substr(*at, end - *at);
  *at = end;
}

TEST_F(HostCli, InfoJsonReadsBackAsTheFileWasBuilt) {
  Image interlaced = Pattern(2, 3, 5, 4, 2, kLocal);
  interlaced.interlaced = true;
  Bytes gif = GifBuilder(20, 10, kColors, "89a", 3)
                  .Application("NETSCAPE2.0", {1, 5, 0})
                  .Comment("made \"here\"")
                  .GraphicControl(true, 2, 150)
                  .AddImage(Pattern(0, 0, 20, 10, 4))
                  .PlainText(1, 2, 16, 8, 4, 8, 1, 0, {"Hi"})
                  .AddImage(interlaced)
                  .Trailer()
                  .bytes();
  gif.insert(gif.end(), {'x', 'y'});
  Put("all.gif", gif);
  const HostRun run =
      Host("info --json all.gif " EXAMPLES "/transparent.gif " EXAMPLES "/plaintext.gif");
  ASSERT_EQ(run.status, 0) << run.err;
  std::map<std::string, std::string> all, transparent, plaintext;
  std::istringstream lines(run.out);
  std::string line;
  for (auto* into : {&all, &transparent, &plaintext}) {
    std::getline(lines, line);
    size_t at = 0;
    Flatten(line, &at, "", into);
  }
  const std::map<std::string, std::string> expected[] = {
      {{"version", "\"89a\""},
       {"width", "20"},
       {"height", "10"},
       {"bitsPerPixel", "2"},
       {"globalColors", "4"},
       {"backgroundIndex", "3"},
       {"images.0.control.transparentIndex", "2"},
       {"images.0.control.delay", "150"},
       {"images.0.localColors", "0"},
       {"images.1.left", "2"},
       {"images.1.top", "3"},
       {"images.1.depth", "1"},
       {"images.1.interlaced", "true"},
       {"images.1.localColors", "2"},
       {"comments.0", "\"made \\\"here\\\"\""},
       {"plainTexts.0.cellHeight", "8"},
       {"plainTexts.0.text", "\"Hi\""},
       {"applications.0.identifier", "\"NETSCAPE2.0\""},
       {"applications.0.loopCount", "5"},
       {"trailer", "true"},
       {"bytesAfterTrailer", "2"}},
      {{"width", "80"},
       {"images.1.left", "10"},
       {"images.1.width", "60"},
       {"images.1.localColors", "8"},
       {"images.1.control.transparent", "true"}},
      {{"width", "160"},
       {"plainTexts.0.text", "\"Hello from gifimport\""},
       {"plainTexts.0.cellWidth", "8"}},
  };
  const std::map<std::string, std::string>* got[] = {&all, &transparent, &plaintext};
  for (int i = 0; i < 3; ++i)
    for (const auto& [key, value] : expected[i])
      EXPECT_EQ((*got[i]).count(key) ? got[i]->at(key) : "(none)", value) << key;
  EXPECT_EQ(all.count("images.0.interlaced") ? all.at("images.0.interlaced") : "", "false");
}

}  // namespace
