// A shared library loaded at run time. The library stays loaded as long as
// the object lives; pointers taken from it must not outlive it. Symbols are
// bound when the library is loaded and stay private to it.
#pragma once

#include <memory>
#include <string>

namespace orvale::platform {

class DynamicLibrary {
  public:
    // Loads `file`: a path, or a bare file name found by the system's library
    // search. Answers null, with the loader's text in `error`, on failure.
    static std::unique_ptr<DynamicLibrary> Open(const std::string& file,
                                                std::string* error = nullptr);

    // Loads a vendor library by its file name: only the file named by the
    // variable `overrideVariable` when that is set (not empty), otherwise `fileName` in
    // the host folder, otherwise `fileName` through the system's search.
    static std::unique_ptr<DynamicLibrary> OpenBesideHost(const std::string& fileName,
                                                          const char* overrideVariable,
                                                          std::string* error = nullptr);

    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of the exported symbol `name`, or null when there is none.
    void* Symbol(const char* name) const;

    // The exported function `name` as a pointer of type F, or null.
    template <typename F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(Symbol(name));
    }

    // The file as it was given to the loader.
    const std::string& File() const { return file_; }

  private:
    DynamicLibrary(void* handle, std::string file);

    void* handle_;
    std::string file_;
};

}  // namespace orvale::platform
