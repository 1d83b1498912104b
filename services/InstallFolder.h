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
  kLinked,        // a link that this program must not follow
  kForeignOwner,  // owned by somebody the wizard cannot trust (writing only)
  kUnconfirmed,   // its owner and list could not be read, set or read back (writing only)
};

// The install folders as held open by Prepare: every handle stays open (without delete
// sharing) until this object goes, which for the wizard is the end of the program.
class HeldFolders {
 public:
  HeldFolders() = default;
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  // For each folder, parent first: opens it as itself and holds it; refuses a link that this program
  // must not follow; makes a missing one (kCreateAndWrite) in one step with the protected access list;
  // for writing, refuses a folder that an untrusted principal owns and gives one that others may
  // change the protected list, read back. Stops at the first refused folder, which `refused()` then
  // names. A folder that is missing and not to be made is not refused here (the writes into it fail
  // and say so); one that could not be made, a link that leads nowhere, and a handle that could not be
  // held are (kUnconfirmed). With administrator rights a link is followed only where the
  // administrators or the system own it and nobody else may change it: one that others may change
  // gets the protected list through its own handle for writing, read back, and is refused otherwise.
  FolderRefusal Prepare(std::span<const char* const> folders, FolderUse use);
  const char* refused() const { return refused_; }

 private:
  // Each folder may take two handles: the link itself and the folder it leads to.
  static constexpr int kMaxHeld = 8;
  bool Hold(UniqueFile handle);

  UniqueFile held_[kMaxHeld];
  int count_ = 0;
  const char* refused_ = nullptr;
};

}  // namespace zv
