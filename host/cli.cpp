#include "host/cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "host/commands.h"
#include "host/interrupt.h"

namespace host {

bool ArgParser::Next() {
  if (!ok_ || index_ + 1 >= argc_) return false;
  arg_ = argv_[++index_];
  hasInline_ = false;
  name_ = arg_;
  operand_ = optionsDone_ || arg_.size() < 2 || arg_[0] != '-';
  if (!operand_ && arg_ == "--") {
    optionsDone_ = true;
    return Next();
  }
  if (!operand_ && arg_.compare(0, 2, "--") == 0) {
    const size_t equals = arg_.find('=');
    if (equals != std::string::npos) {
      name_ = arg_.substr(0, equals);
      inlineValue_ = arg_.substr(equals + 1);
      hasInline_ = true;
    }
  }
  return true;
}

bool ArgParser::Matches(const char* name, char shortName) const {
  if (operand_) return false;
  if (name_ == std::string("--") + name) return true;
  return shortName != 0 && name_.size() == 2 && name_[0] == '-' && name_[1] == shortName;
}

bool ArgParser::Flag(const char* name, char shortName) {
  if (!Matches(name, shortName)) return false;
  if (hasInline_) Fail(name_ + " takes no value");
  return true;
}

bool ArgParser::Value(const char* name, char shortName, std::string* value) {
  if (!Matches(name, shortName)) return false;
  if (hasInline_) {
    *value = inlineValue_;
  } else if (index_ + 1 < argc_) {
    *value = argv_[++index_];
  } else {
    Fail(name_ + " needs a value");
  }
  return true;
}

void ArgParser::Unknown() { Fail("unknown option '" + arg_ + "' (try '" + command_ + " --help')"); }

void ArgParser::Fail(const std::string& message) {
  if (ok_) PrintError(std::string(command_) + ": " + message);
  ok_ = false;
}

ProgressLine::ProgressLine(bool wanted) {
  enabled_ = wanted && ErrorOutputIsTerminal();
#if !defined(_WIN32)
  struct winsize size = {};
  if (enabled_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    width_ = size.ws_col;
#endif
}

void ProgressLine::Show(const std::string& label, int permille) {
  if (!enabled_) return;
  if (permille < 0) permille = 0;
  if (permille > 1000) permille = 1000;
  // Asked once a sub-block: the same line again costs no formatting.
  if (shown_ != 0 && permille == lastPermille_ && label == lastLabel_) return;
  lastPermille_ = permille;
  lastLabel_ = label;
  // The last column stays free: a line that fills it wraps on some terminals.
  const size_t room = width_ > 1 ? static_cast<size_t>(width_ - 1) : 0;
  char percent[8];
  std::snprintf(percent, sizeof percent, " %3d%%", permille / 10);
  std::string text = label;
  const size_t fixed = text.size() + std::strlen(percent) + 3;  // " [" and "]"
  if (fixed + 10 <= room) {
    const size_t bar = room - fixed < 40 ? room - fixed : 40;
    const size_t filled = bar * static_cast<size_t>(permille) / 1000;
    text += " [" + std::string(filled, '#') + std::string(bar - filled, '.') + "]";
  }
  text += percent;
  if (text.size() > room) text = text.substr(text.size() - room);  // keep the figures
  if (text == last_) return;
  last_ = text;
  const size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
  std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
  if (pad) std::fprintf(stderr, "\r%s", text.c_str());
  std::fflush(stderr);
  shown_ = text.size();
}

void ProgressLine::Clear() {
  if (!enabled_ || shown_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown_), "");
  std::fflush(stderr);
  shown_ = 0;
  last_.clear();
}

}  // namespace host
