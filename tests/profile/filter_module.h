// Tests of the setup and the profile: a private copy of the filter module in
// a directory of the test's own (so that "beside the module" is a place the
// test controls), scratch directories, and a copy of a setup's fields.
//
//   ScratchDir dir;
//   FilterModuleCopy filter(dir.Sub("module"));
//   dir.Write("module/gifin.INI", "[ir_gif]\n~Mode=Main\n...");
//   HGLOBAL setup = filter.CreateSetup(nullptr, nullptr, nullptr, 0);
//
// The copy shares the stand-ins already loaded into the test program, so
// live counts and faults cover it too.
#ifndef GIFIMPORT_TESTS_PROFILE_FILTER_MODULE_H
#define GIFIMPORT_TESTS_PROFILE_FILTER_MODULE_H

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "filter/filter_api.h"
#include "filter/filter_setup.h"

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
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = fs::canonical(made).string();
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
    fs::path full = fs::path(path_) / relative;
    fs::create_directories(full);
    return full.string();
  }
  // Writes `text` to the file `relative` (parents made), returns its path.
  std::string Write(const std::string& relative, const std::string& text) const {
    fs::path full = fs::path(path_) / relative;
    fs::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << text;
    return full.string();
  }

 private:
  std::string path_;
};

// A directory inside `base` whose full path is exactly `length` characters,
// made of nested components of at most 200 characters.
inline std::string DirectoryOfLength(const std::string& base, size_t length) {
  if (length < base.size() + 2) throw std::invalid_argument("directory too short");
  std::string path = base;
  while (path.size() < length) {
    size_t room = length - path.size() - 1;  // less the separator
    size_t part = room < 200 ? room : 200;
    if (room - part == 1) --part;  // a remainder of one could hold no component
    path += "/" + std::string(part, 'd');
  }
  fs::create_directories(path);
  return path;
}

// Sets an environment variable for a scope; restores the old value after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Changes the current directory for a scope.
class ScopedWorkingDir {
 public:
  explicit ScopedWorkingDir(const std::string& directory) : old_(fs::current_path()) {
    fs::current_path(directory);
  }
  ~ScopedWorkingDir() { fs::current_path(old_); }

 private:
  fs::path old_;
};

// The filter module copied to `directory`/`fileName` and loaded from there.
class FilterModuleCopy {
 public:
  explicit FilterModuleCopy(const std::string& directory,
                            const std::string& fileName = "gifin.so")
      : path_((fs::path(directory) / fileName).string()) {
    fs::create_directories(directory);
    fs::copy_file(GIFIN_MODULE_FILE, path_, fs::copy_options::overwrite_existing);
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    CreateSetup = Resolve<decltype(&::CreateSetup)>("CreateSetup");
    DestroySetup = Resolve<decltype(&::DestroySetup)>("DestroySetup");
    EditSetup = Resolve<decltype(&::EditSetup)>("EditSetup");
    EscapeSetup = Resolve<decltype(&::EscapeSetup)>("EscapeSetup");
    ImportFile = Resolve<decltype(&::ImportFile)>("ImportFile");
  }
  ~FilterModuleCopy() {
    if (handle_) dlclose(handle_);
  }
  FilterModuleCopy(const FilterModuleCopy&) = delete;
  FilterModuleCopy& operator=(const FilterModuleCopy&) = delete;

  const std::string& path() const { return path_; }

  decltype(&::CreateSetup) CreateSetup = nullptr;
  decltype(&::DestroySetup) DestroySetup = nullptr;
  decltype(&::EditSetup) EditSetup = nullptr;
  decltype(&::EscapeSetup) EscapeSetup = nullptr;
  decltype(&::ImportFile) ImportFile = nullptr;

 private:
  template <typename F>
  F Resolve(const char* name) {
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + name);
    return reinterpret_cast<F>(symbol);
  }

  std::string path_;
  void* handle_ = nullptr;
};

// The fields of a setup, copied out while the block is locked.
inline std::unique_ptr<FilterSetup> ReadSetup(HGLOBAL handle) {
  auto* locked = static_cast<const FilterSetup*>(GlobalLock(handle));
  if (locked == nullptr) return nullptr;
  auto copy = std::make_unique<FilterSetup>(*locked);
  GlobalUnlock(handle);
  return copy;
}

}  // namespace setuptest

#endif
