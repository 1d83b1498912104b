// The folders that the suite is installed into, made safe to write and delete in before the first
// write or deletion. A folder made directly under a drive's root would inherit the root's entries,
// which on current Windows let every signed-in user change everything below; such a user could then
// replace a program of the suite or put a library beside it, and the next person to start the suite
// would run that code. So a folder that the wizard makes gets an access list of its own, protected
// from the root's: full control for SYSTEM, Administrators and the user who runs the wizard, read and
// execute for Users. An existing folder that lets a broad group write gets the same list where the
// system allows it.
//
// A link (a junction or symbolic link) in a folder's place would send the writes and deletions
// elsewhere. A wizard running with administrator rights follows none that another user could have
// planted: only a link that Administrators or SYSTEM own. Without those rights the wizard can write
// nowhere its user could not, so a link is followed as before.
#pragma once

#include <span>

namespace zv {

// The process runs with the rights of the Administrators group (an elevated token on systems with
// user account control): a refused access is then no question of rights that running as an
// administrator would give.
bool RunsWithAdministratorRights();

// What is about to happen in the folders.
enum class FolderUse {
  kDelete,          // files are deleted: the folders are only checked for links
  kWrite,           // files are written into existing folders
  kCreateAndWrite,  // missing folders are made, then files are written
};

// For each folder, parent first: checks that it is no link this program must not follow, makes a
// missing one (kCreateAndWrite) in one step with the protected access list, and gives an existing one
// that lets Everyone, Authenticated Users, Users or Interactive write the same list where the system
// allows it (kWrite, kCreateAndWrite; otherwise it stays as it is). Stops at the first folder that is
// a link not to be followed and returns it; nullptr when every folder may be used. A folder that
// could not be made is not reported here: the writes into it fail and say so.
const char* PrepareInstallFolders(std::span<const char* const> folders, FolderUse use);

}  // namespace zv
