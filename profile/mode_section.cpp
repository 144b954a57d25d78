// The mode section: driver name, colour table source, colour and font lists.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "profile/profile.h"
#include "resources/string_ids.h"

namespace gifin {

namespace {

constexpr DWORD kColorValueBytes = 50;
constexpr DWORD kFontValueBytes = 150;
constexpr DWORD kColorTableSourceBytes = 10;  // at most 9 characters from the profile

// strtok's behaviour with the position kept here rather than in hidden
// global state: each call skips the delimiters at the position, takes the
// characters up to the next one as the token, ends the token in place on
// that delimiter and moves past it. Once the text is used up, every call
// finds nothing.
class Tokenizer {
 public:
  explicit Tokenizer(char* text) : position_(text) {}

  char* Next(const char* delimiters) {
    char* start = position_ + std::strspn(position_, delimiters);
    if (*start == 0) {
      position_ = start;
      return nullptr;
    }
    char* end = start + std::strcspn(start, delimiters);
    position_ = *end ? end + 1 : end;
    *end = 0;
    return start;
  }

 private:
  char* position_;
};

// atoi: leading white space, an optional sign, the decimal digits after it;
// the rest is ignored and no digits give 0. A value beyond 32 bits saturates
// as the runtime's atoi does, instead of overflowing.
int32_t ParseDecimal(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT64_C(0x80000000)) value = INT64_C(0x80000000);
  }
  if (negative) return static_cast<int32_t>(-value);
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

// Colour values outside 0..255 keep their low 8 bits (300 becomes 44).
uint8_t LowByte(const char* token) {
  return static_cast<uint8_t>(static_cast<uint32_t>(ParseDecimal(token)) & 0xFF);
}

// Names longer than their entry are cut to fit it.
void CopyCut(char* entry, size_t entryBytes, const char* text) {
  size_t length = std::strlen(text);
  if (length > entryBytes - 1) length = entryBytes - 1;
  std::memcpy(entry, text, length);
  entry[length] = 0;
}

// _stricmp over ASCII letters.
bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return *a == *b;
}

// Reads list key stem[index] ("%s[%03d]") of the mode section. The stem is
// loaded once per list by the caller.
DWORD ReadListKey(const ProfileFile& file, const FilterSetup* setup, const char* stem, int index,
                  char* buffer, DWORD size) {
  char key[kTextFieldBytes + 16];
  std::snprintf(key, sizeof key, "%s[%03d]", stem, index);
  return GetPrivateProfileStringA(setup->modeSection, key, "", buffer, size, file.readerPath);
}

bool LoadStem(UINT id, char (&stem)[kTextFieldBytes]) {
  return LoadStringA(moduleInstance, id, stem, sizeof stem) > 0;
}

// One colour value: "(r, g, b), \"name\"" or the numbers alone, separated by
// blanks or commas. The numbers read before the parse stops are kept and the
// rest stay 0; the name is written only once blue was read.
void ParseColor(char* value, RgbTriple* color, char* name) {
  *color = RgbTriple{0, 0, 0};
  Tokenizer tokens(value);
  const char* token = tokens.Next("( ,");
  if (!token) return;
  color->red = LowByte(token);
  if (!(token = tokens.Next(", "))) return;
  color->green = LowByte(token);
  if (!(token = tokens.Next(", )"))) return;
  color->blue = LowByte(token);
  // The first token after the numbers is the blank before the opening quote.
  // Without that blank it is the name itself and the next call finds
  // nothing: such a value keeps its numbers and gets an empty name.
  const char* quoted = nullptr;
  if (tokens.Next(",\"")) quoted = tokens.Next("\"");
  CopyCut(name, kColorNameBytes, quoted ? quoted : "");
}

// One font value as the reader leaves it: name", "face (outer quotes gone).
void ParseFont(char* value, char* name, char* face) {
  Tokenizer tokens(value);
  char* token = tokens.Next(",");
  if (!token) return;
  if (token[0] == '"') {
    name[0] = 0;
  } else {
    token[std::strlen(token) - 1] = 0;  // the closing quote of the name
    CopyCut(name, kFontNameBytes, token);
  }
  const char* faceToken = nullptr;
  if (tokens.Next(",\"")) faceToken = tokens.Next(",\"");
  CopyCut(face, kFontNameBytes, faceToken ? faceToken : "");
}

}  // namespace

bool ReadModeSection(FilterSetup* setup, bool readFonts, bool readColors) {
  ProfileFile file;
  OpenProfileFile(setup->profilePath, &file);
  if (ReadProfileKey(file, setup->modeSection, kIdsDriverKey, setup->driverName,
                     sizeof setup->driverName) == 0) {
    return false;
  }
  ReadProfileKey(file, setup->modeSection, kIdsColorTableSourceKey, setup->colorTableSource,
                 kColorTableSourceBytes);
  if (readColors) ReadColorList(setup);
  if (readFonts) ReadFontList(setup);

  // Only "FILE" keeps the GIF's own colours; any other value, the empty text
  // included, puts the profile colours in force.
  char keyword[kTextFieldBytes];
  const bool fromFile =
      LoadStem(kIdsFileKeyword, keyword) && EqualIgnoringCase(setup->colorTableSource, keyword);
  setup->overrideColorCount = fromFile ? 0 : setup->colorCount;
  return true;
}

void ReadColorList(FilterSetup* setup) {
  ProfileFile file;
  OpenProfileFile(setup->profilePath, &file);
  char stem[kTextFieldBytes];
  int count = 0;
  if (LoadStem(kIdsColorStem, stem)) {
    char value[kColorValueBytes];
    // The setup holds 256 colours; keys beyond them are ignored.
    for (; count < kMaxProfileColors; ++count) {
      if (ReadListKey(file, setup, stem, count, value, sizeof value) == 0) break;
      ParseColor(value, &setup->colors[count], setup->colorNames[count]);
    }
  }
  setup->colorCount = count;
}

void ReadFontList(FilterSetup* setup) {
  ProfileFile file;
  OpenProfileFile(setup->profilePath, &file);
  char stem[kTextFieldBytes];
  int count = 0;
  if (LoadStem(kIdsFontStem, stem)) {
    char value[kFontValueBytes];
    // Font keys count from 001; the setup holds 32 fonts, the rest are ignored.
    for (; count < kMaxProfileFonts; ++count) {
      if (ReadListKey(file, setup, stem, count + 1, value, sizeof value) == 0) break;
      ParseFont(value, setup->fontNames[count], setup->fontFaces[count]);
    }
  }
  setup->fontCount = count;
}

}  // namespace gifin
