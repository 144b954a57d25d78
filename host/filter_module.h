// Loads the filter module at run time, as a host application does, and
// resolves its exports by name. The only place that knows how the system
// loads a module.
#ifndef GIFIMPORT_HOST_FILTER_MODULE_H
#define GIFIMPORT_HOST_FILTER_MODULE_H

#include <string>

namespace host {

class FilterModule {
 public:
  FilterModule() = default;
  ~FilterModule();
  FilterModule(const FilterModule&) = delete;
  FilterModule& operator=(const FilterModule&) = delete;

  // Loads the module at `path`; false with *error set when it cannot.
  bool Load(const std::string& path, std::string* error);
  // The export `name` as a function pointer of type F, or null.
  template <typename F>
  F Resolve(const char* name) const {
    return reinterpret_cast<F>(Symbol(name));
  }
  const std::string& path() const { return path_; }

  // The filter module beside this program (gifin.so / gifin.dll).
  static std::string DefaultPath();

 private:
  void* Symbol(const char* name) const;
  void* handle_ = nullptr;
  std::string path_;
};

}  // namespace host

#endif
