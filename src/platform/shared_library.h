#pragma once
// A library loaded when it is first needed instead of at every start: the
// web library and the HEIF decoders bring dozens of libraries of their own
// (TLS, LDAP, HEVC and AV1 codecs) whose linking would otherwise be paid by
// every run, most of which never reads from the web or opens a HEIF file.
#include <dlfcn.h>

#include <string>

class TSharedLibrary {
public:
  // Loads the library (a soname such as "libcurl.so.4"); see Loaded.
  explicit TSharedLibrary(const char* soname) : m_handle(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
    if (!m_handle) m_error = dlerror();
  }
  TSharedLibrary(const TSharedLibrary&) = delete;
  TSharedLibrary& operator=(const TSharedLibrary&) = delete;
  // The library stays loaded for the rest of the process: its functions may
  // be held anywhere.

  // Sets call to the library's function of that name; a missing library or
  // function is remembered in Error.
  template <typename TFunction>
  void Bind(TFunction& call, const char* name) {
    call = m_handle ? reinterpret_cast<TFunction>(dlsym(m_handle, name)) : nullptr;
    if (!call && m_error.empty()) m_error = std::string(name) + " is missing";
  }
  // True while the library and every function bound so far were found.
  bool Ok() const { return m_error.empty(); }
  // Why the library or one of its functions could not be had.
  const std::string& Error() const { return m_error; }

private:
  void* m_handle;
  std::string m_error;
};
