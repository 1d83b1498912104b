// Replaces, for as long as the hook lives, the address that this test program's import table holds
// for a system function, so that a test can see the calls that the code under test makes, in the
// order it makes them, and look at the file system at that moment (what another process would find
// while a write is under way). Only calls made through the program's own import table are seen, which
// is every call of the statically linked runtime; the system's own internal calls are not.
#pragma once

#include <windows.h>

namespace zv::test {

class ImportHook {
 public:
  // `function` is the import's name ("WriteFile"); `replacement` has the same signature.
  ImportHook(const char* function, void* replacement);
  ImportHook(const ImportHook&) = delete;
  ImportHook& operator=(const ImportHook&) = delete;
  ~ImportHook();

  // The import was found and replaced.
  bool ok() const { return original_ != nullptr; }
  // The system's own function, for the replacement to call on.
  template <class Function>
  Function original() const {
    return reinterpret_cast<Function>(original_);
  }

 private:
  void** slot_ = nullptr;
  void* original_ = nullptr;
};

}  // namespace zv::test
