// What the commands share beyond the registry: option parsing with the
// usual conventions (--opt value, --opt=value, -o value, -- ends options,
// - is an operand), the progress line, and one place that says failures.
#ifndef GIFIMPORT_HOST_CLI_H
#define GIFIMPORT_HOST_CLI_H

#include <string>
#include <vector>

namespace host {

class ArgParser {
 public:
  ArgParser(const char* command, int argc, char** argv)
      : command_(command), argc_(argc), argv_(argv) {}

  // Moves to the next argument; false at the end or after an error.
  bool Next();
  // A file operand (not an option, "-", or anything after "--").
  bool IsOperand() const { return operand_; }
  const std::string& arg() const { return arg_; }
  // A switch without value: --name or -c.
  bool Flag(const char* name, char shortName = 0);
  // An option with a value: --name V, --name=V, -c V. True when it matched
  // (check ok(): the value may be missing).
  bool Value(const char* name, char shortName, std::string* value);
  // Says the argument is unknown; the parse then ends.
  void Unknown();
  bool ok() const { return ok_; }
  void Fail(const std::string& message);

 private:
  bool Matches(const char* name, char shortName) const;
  const char* command_;
  int argc_;
  char** argv_;
  int index_ = 0;
  bool ok_ = true, optionsDone_ = false, operand_ = false;
  std::string arg_, name_, inlineValue_;
  bool hasInline_ = false;
};

// One line on stderr while a job runs, when stderr is a terminal: it fits
// the terminal's width (never wraps) and is cleared whole at the end.
class ProgressLine {
 public:
  explicit ProgressLine(bool wanted);
  ~ProgressLine() { Clear(); }
  bool enabled() const { return enabled_; }
  // label: what is being done; permille: of the whole job.
  void Show(const std::string& label, int permille);
  void Clear();

 private:
  bool enabled_ = false;
  int width_ = 80;
  size_t shown_ = 0;  // characters on the line now
  std::string last_;
  int lastPermille_ = -1;
  std::string lastLabel_;
};

}  // namespace host

#endif
