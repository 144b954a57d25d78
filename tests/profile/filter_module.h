// Tests of the setup and the profile: a private copy of the filter module in
// a directory of the test's own (so that "beside the module" is a place the
// test controls), scratch directories, and a setup's fields. The copy shares
// the stand-ins already loaded into the test program, so live counts and
// faults cover it too.
#ifndef GIFIMPORT_TESTS_PROFILE_FILTER_MODULE_H
#define GIFIMPORT_TESTS_PROFILE_FILTER_MODULE_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "core/filter_setup.h"
#include "host/filter_module.h"
#include "platform/platform_test.h"
#include "tests/support/recording_host.h"

#ifndef GIFIN_MODULE_FILE
#error "GIFIN_MODULE_FILE names the built filter module"
#endif

namespace setuptest {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary directory, removed with
// everything in it. Its path is the real one, as module paths are.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "gifin-profile-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = fs::canonical(pattern).string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // A subdirectory (made with its parents), as a full path.
  std::string Sub(const std::string& relative) const {
    fs::create_directories(path_ + "/" + relative);
    return path_ + "/" + relative;
  }
  // Writes `text` to the file `relative` (parents made); its full path.
  std::string Write(const std::string& relative, const std::string& text) const {
    const fs::path full = fs::path(path_) / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
    return full.string();
  }

 private:
  std::string path_;
};

// Sets an environment variable for a scope; restores the old value after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The filter module copied to `directory`/`fileName` and loaded from there.
class FilterModuleCopy {
 public:
  explicit FilterModuleCopy(const std::string& directory,
                            const std::string& fileName = "gifin.so") {
    const std::string path = directory + "/" + fileName;
    fs::create_directories(directory);
    fs::copy_file(GIFIN_MODULE_FILE, path, fs::copy_options::overwrite_existing);
    std::string error;
    if (!module_.Load(path, &error)) throw std::runtime_error(error);
    Resolve(CreateSetup, "CreateSetup");
    Resolve(DestroySetup, "DestroySetup");
    Resolve(EscapeSetup, "EscapeSetup");
    Resolve(ImportFile, "ImportFile");
  }
  FilterModuleCopy(const FilterModuleCopy&) = delete;
  FilterModuleCopy& operator=(const FilterModuleCopy&) = delete;

  decltype(&::CreateSetup) CreateSetup = nullptr;
  decltype(&::DestroySetup) DestroySetup = nullptr;
  decltype(&::EscapeSetup) EscapeSetup = nullptr;
  decltype(&::ImportFile) ImportFile = nullptr;

 private:
  template <typename F>
  void Resolve(F& function, const char* name) {
    function = module_.Resolve<F>(name);
    if (function == nullptr) throw std::runtime_error(std::string("missing export ") + name);
  }

  host::FilterModule module_;
};

// The fields of a setup, copied out while the block is locked.
inline std::unique_ptr<FilterSetup> ReadSetup(HGLOBAL handle) {
  auto* locked = static_cast<const FilterSetup*>(GlobalLock(handle));
  if (locked == nullptr) return nullptr;
  auto copy = std::make_unique<FilterSetup>(*locked);
  GlobalUnlock(handle);
  return copy;
}

// Makes a setup and gives back its fields (null when none was made); the
// setup is destroyed again and nothing may stay live.
inline std::unique_ptr<FilterSetup> MakeSetup(const FilterModuleCopy& filter, const char* profile,
                                              const char* mode) {
  HGLOBAL handle = filter.CreateSetup(nullptr, profile, mode, 0);
  std::unique_ptr<FilterSetup> fields;
  if (handle != nullptr) {
    fields = ReadSetup(handle);
    EXPECT_EQ(filter.DestroySetup(handle), 0);
  }
  EXPECT_EQ(testhost::DescribeLive(), "");
  return fields;
}

// One module copy for a whole suite in module/, with $WINDIR pointed at
// windows/ of the same scratch tree, where no profile is; nothing may stay
// live after each test.
class SharedModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    filter_ = new FilterModuleCopy(dir_->Sub("module"));
  }
  static void TearDownTestSuite() {
    delete filter_;
    delete dir_;
  }
  void SetUp() override {
    windir_ = std::make_unique<ScopedEnv>("WINDIR", dir_->Sub("windows"));
    StandInResetFaults();
    StandInClearLog();
  }
  void TearDown() override {
    StandInResetFaults();
    PlatformFailAllocationAt(0);
    EXPECT_EQ(testhost::DescribeLive(), "");
  }

  static inline ScratchDir* dir_ = nullptr;
  static inline FilterModuleCopy* filter_ = nullptr;
  std::unique_ptr<ScopedEnv> windir_;
};

}  // namespace setuptest

#endif
