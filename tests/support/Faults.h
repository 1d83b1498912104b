// Real faults for the tests, made under Wine on Linux: a disk that fills up, a file that refuses
// writing, and commands run on the Linux side where a fault can only be made there.
//
// SmallDrive: a 1 MB file system mapped as drive Q: of the Wine prefix by the CTest fixture
// tests/support/small-drive. A test takes the drive for its whole run (a named mutex, so tests in
// other processes wait), fills it to the free space that the case needs, and leaves it empty again.
// Where the machine could not mount it, available() is false and whyNot() says why, for the test to
// skip with.
//
// ReadOnlyFile: the read-only attribute, and where the system does not enforce it (Wine keeps it as
// a permission bit, which root may ignore) the file system's immutable flag, so that the file really
// refuses to be written, replaced or deleted, as a read-only file does on Windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zv::test {

class SmallDrive {
 public:
  SmallDrive();
  SmallDrive(const SmallDrive&) = delete;
  SmallDrive& operator=(const SmallDrive&) = delete;
  ~SmallDrive();

  bool available() const { return available_; }
  const std::string& whyNot() const { return whyNot_; }
  // A fresh, empty folder on the drive, e.g. "Q:\name"; removed when the drive is given back.
  std::string MakeFolder(const std::string& name);
  std::uint64_t FreeBytes() const;
  // Fills the drive with a file of zeros until at most `bytes` are free (the file system counts in
  // pages, so a little less may be left). False if the drive cannot be filled that far.
  bool LeaveFree(std::uint64_t bytes);
  // Deletes the filling again.
  void Empty();

 private:
  HANDLE lock_ = nullptr;
  bool available_ = false;
  std::string whyNot_;
  std::string filler_;
  std::string folders_[8];
  int folderCount_ = 0;
};

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile();

  // The file refuses to be opened for writing.
  bool ok() const { return ok_; }
  const std::string& whyNot() const { return whyNot_; }

 private:
  std::string path_;
  std::string unixPath_;
  bool immutable_ = false;
  bool ok_ = false;
  std::string whyNot_;
};

// The Linux path of a Windows path under Wine ("" when there is none).
std::string UnixPathOf(const std::string& windowsPath);
// Runs a Linux program (a full path and its arguments) from this Windows process, as Wine allows,
// and waits for its end. False when it could not be started.
bool RunLinuxProgram(const std::string& commandLine);

// Makes `link` a Linux symbolic link to `target` (both Windows paths; the target need not exist),
// which Wine reports as a reparse point, as Windows reports a symbolic link or a junction. False when
// it could not be made.
bool MakeLinuxLink(const std::string& link, const std::string& target);
// Removes such a link (not what it points at); Wine itself cannot remove a link to a folder.
void RemoveLinuxLink(const std::string& link);

}  // namespace zv::test
