// The folders that the suite is installed into, checked, made safe and then held open until the
// program ends, so that what was checked is what the writes and deletions reach.
//
// A folder made directly under a drive's root would inherit the root's entries, which on current
// Windows let every signed-in user change everything below; and any user may make `C:\zor\vik`
// before the suite is installed, with a list of their own. Either way that user could replace a
// program of the suite or put a library beside it, and the next person to start the suite (the
// administrator who installed it, perhaps) would run that code. So the install folders are trusted
// only where nobody but SYSTEM, Administrators, TrustedInstaller and the user who runs the wizard can
// change them: a folder that the wizard makes gets a protected access list of its own from the first
// moment (full control for those, read and execute for Users); an existing folder that such a
// principal owns but others may change gets the same list, read back to make sure it holds; a folder
// that another user owns, or whose list cannot be read, set or confirmed, is refused before anything
// is written.
//
// A link (a junction or symbolic link) in a folder's place would send the writes and deletions
// elsewhere. A wizard running with administrator rights follows none that another user could have
// planted or could point elsewhere: only a link that Administrators or SYSTEM own and that nobody
// else may change (a junction made under a drive's root takes the root's "every signed-in user may
// modify" until it is given the protected list). Without those rights the wizard can write
// nowhere its user could not, so a link is followed as before.
//
// Every folder is opened as itself (a link is seen as a link) without delete sharing, and all checks
// are made on that handle; the handle stays open until the program ends, so that nobody can move the
// folder aside or put a link in its place between the check and the last write or deletion.
#pragma once

#include <span>

#include "runtime/Handles.h"
#include "runtime/Text.h"

namespace zv {

// The process runs with the rights of the Administrators group (an elevated token on systems with
// user account control): a refused access is then no question of rights that running as an
// administrator would give.
bool RunsWithAdministratorRights();

// What is about to happen in the folders.
enum class FolderUse {
  kDelete,          // files are deleted: the folders are checked for links and held, their lists not changed
  kWrite,           // files are written into existing folders
  kCreateAndWrite,  // missing folders are made, then files are written
};

// Why a folder may not be used.
enum class FolderRefusal {
  kNone,
  kLinked,          // a link that this program must not follow, or a held folder that became one or moved
  kForeignOwner,    // owned by somebody the wizard cannot trust (writing only)
  kUnconfirmed,     // its owner and list could not be read, set or read back (writing only)
  kForeignEntries,  // holds entries that others own or may change (`entries()` lists them)
};

// The install folders as held open by Inspect: every handle stays open (without delete sharing) until
// this object goes, which for the wizard is the end of the program. While held, every file operation
// of the runtime on a name directly inside one of them is made relative to its handle
// (runtime/HeldDirectories.h).
class HeldFolders {
 public:
  HeldFolders() = default;
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;
  ~HeldFolders();

  // For each folder, parent first: opens it as itself (relative to the parent's held handle) and holds
  // it; refuses a link that this program must not follow and, for writing, a folder that an untrusted
  // principal owns or whose list cannot be read. Nothing is made and no list changed here: that waits
  // for MakeReady, so that the user may still cancel with the disk as it was. A missing folder is
  // noted (and everything below it counts as missing). Stops at the first refused folder, which
  // `refused()` then names. A link that leads nowhere, or a handle that could not be held, is refused
  // (kUnconfirmed). With administrator rights a link is followed only where the administrators or the
  // system own it and nobody else may change it, or, for writing, where it can be given the protected
  // list (in MakeReady).
  FolderRefusal Inspect(std::span<const char* const> folders, FolderUse use);

  // When the writing starts, through the handles held by Inspect: a missing folder is made
  // (kCreateAndWrite) in one step with the protected access list; a folder or link that others may
  // change gets the protected list, read back. A folder given the list has its direct entries looked
  // at: `ownFiles` (full paths, the suite's files) get the list as well; any entry (a subfolder counts
  // as one) that another user owns, or that others may change and that could not be reset, refuses
  // (kForeignEntries) before anything is written. Last, the held folders are checked to be in place.
  FolderRefusal MakeReady(std::span<const char* const> ownFiles);

  // Inspect, then MakeReady.
  FolderRefusal Prepare(std::span<const char* const> folders, FolderUse use,
                        std::span<const char* const> ownFiles = {});

  // Every folder was there when inspected (or has been made since).
  bool present() const { return missingFrom_ == count_; }
  // The held folders are still the folders inspected, where they were, and none has become a link (a
  // mount point set in place). False names the folder in `refused()`.
  bool InPlace();

  const char* refused() const { return refused_; }
  // The entries that refused kForeignEntries, one per line (GBK, "?" for what GBK cannot hold).
  const char* entries() const { return entries_.get() != nullptr ? entries_.get() : ""; }

 private:
  static constexpr int kMaxFolders = 4;
  struct Folder {
    const char* path = nullptr;
    UniqueFile link;    // a link followed in the folder's place
    UniqueFile handle;  // the folder itself
    bool linkToProtect = false;
    bool toProtect = false;
  };
  FolderRefusal InspectOne(int index);
  FolderRefusal Refuse(int index, FolderRefusal why);
  FolderRefusal CheckEntries(int index, std::span<const char* const> ownFiles, PSECURITY_DESCRIPTOR descriptor);

  Folder folders_[kMaxFolders];
  int count_ = 0;
  int missingFrom_ = 0;  // the first folder that was missing (count_ when none)
  FolderUse use_ = FolderUse::kDelete;
  const char* refused_ = nullptr;
  Text entries_;
};

}  // namespace zv
