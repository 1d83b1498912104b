#include "services/InstallFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <utility>

#include "runtime/HeldDirectories.h"
#include "runtime/SafeReplacement.h"
#include "runtime/WideText.h"
#include "services/TextHelpers.h"

namespace zv {
namespace {

// Local memory that the security calls hand out.
struct LocalBlock {
  LocalBlock() = default;
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;
  ~LocalBlock() { LocalFree(memory); }
  void* memory = nullptr;
};

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return sid != nullptr && IsWellKnownSid(sid, type);
}

// The user the process runs as.
class ProcessUser {
 public:
  ProcessUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    UniqueHandle owned(token);
    DWORD size = 0;
    ok_ = GetTokenInformation(token, TokenUser, buffer_, sizeof buffer_, &size) != 0;
  }
  PSID sid() const { return ok_ ? reinterpret_cast<const TOKEN_USER*>(buffer_)->User.Sid : nullptr; }

 private:
  alignas(TOKEN_USER) unsigned char buffer_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  bool ok_ = false;
};

// TrustedInstaller, the service that owns the system's own files: NT SERVICE\TrustedInstaller.
bool IsTrustedInstaller(PSID sid) {
  static constexpr DWORD kRids[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  if (!IsValidSid(sid) || *GetSidSubAuthorityCount(sid) != 6 ||
      std::memcmp(GetSidIdentifierAuthority(sid), &nt, sizeof nt) != 0)
    return false;
  for (DWORD i = 0; i < 6; ++i)
    if (*GetSidSubAuthority(sid, i) != kRids[i]) return false;
  return true;
}

// The principals that may own and change an install folder: the system, the administrators, the
// system's installer service and the user who runs the wizard.
bool IsTrusted(PSID sid, PSID user) {
  return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
         IsTrustedInstaller(sid) || (user != nullptr && EqualSid(sid, user));
}

// Rights that let somebody change what is in a folder, or the folder's own list or owner.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                        FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

// The list lets somebody who is not trusted change the folder or what is in it, now or by
// inheritance (an entry that applies only to what is made inside counts as well). The one exception
// is the usual inherit-only entry for CREATOR OWNER: it gives the maker of a new file rights on that
// file, and only the trusted can make files here. Deny entries count for nothing: a change they
// forbid can be allowed again by whoever may change the list. Allow entries whose principal cannot be
// placed (object entries) count as untrusted.
bool OthersMayChange(const ACL* dacl, PSID user) {
  if (dacl == nullptr) return true;  // no list at all: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &entry)) return true;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    const ACCESS_MASK mask = static_cast<const ACCESS_ALLOWED_ACE*>(entry)->Mask;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        if ((mask & kChangingRights) == 0) continue;
        PSID sid = const_cast<DWORD*>(&static_cast<const ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        if (IsTrusted(sid, user)) continue;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 && IsWellKnown(sid, WinCreatorOwnerSid)) continue;
        return true;
      }
      case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        if ((mask & kChangingRights) != 0) return true;
        continue;
      default:
        continue;
    }
  }
  return false;
}

// The protected access list of the install folders, inherited by everything made in them: full
// control for SYSTEM, Administrators and the current user, read and execute (0x1200a9) for Users;
// nothing inherited from the folder above.
bool ProtectedDescriptor(PSID user, LocalBlock& descriptor) {
  wchar_t* userText = nullptr;
  if (user == nullptr || !ConvertSidToStringSidW(user, &userText)) return false;
  // (A SID's text is at most 184 characters: "S-1-", the authority and 15 sub-authorities.)
  wchar_t sddl[320];
  wsprintfW(sddl, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)(A;OICI;0x1200a9;;;BU)", userText);
  LocalFree(userText);
  return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor.memory,
                                                              nullptr) != 0;
}

enum class Trust { kTrusted, kOpenToOthers, kForeign, kUnreadable };

// What the folder's owner and list, read through the held handle, say.
Trust TrustOf(HANDLE folder, PSID user) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalBlock descriptor;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor.memory) != ERROR_SUCCESS ||
      owner == nullptr || !IsValidSid(owner)) {
    return Trust::kUnreadable;
  }
  if (!IsTrusted(owner, user)) return Trust::kForeign;
  return OthersMayChange(dacl, user) ? Trust::kOpenToOthers : Trust::kTrusted;
}

// Gives the folder the protected list through its held handle, then reads it back: a list that the
// system did not take (or took only in part) is a failure.
bool Protect(HANDLE folder, PSECURITY_DESCRIPTOR descriptor, PSID user) {
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present) return false;
  if (SetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, dacl, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return TrustOf(folder, user) == Trust::kTrusted;
}

// A link that Administrators or SYSTEM own was made by someone who could write there anyway. The
// link itself is asked (through its own handle), not what it points at.
bool LinkIsTrusted(HANDLE link) {
  PSID owner = nullptr;
  LocalBlock descriptor;
  if (GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor.memory) != ERROR_SUCCESS) {
    return false;
  }
  return IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsWellKnown(owner, WinLocalSystemSid);
}

// Opens a folder to hold it: readable (listing is a data access, so the handle takes part in sharing
// and its missing delete sharing keeps everyone from moving, renaming or deleting the folder), its
// owner and list readable, and its list settable where this user may set it. `asItself` opens a link
// in the folder's place rather than what it leads to.
UniqueFile OpenToHold(const wchar_t* folder, bool writing, bool asItself) {
  constexpr DWORD kHold = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (asItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  const auto open = [&](DWORD access) {
    return UniqueFile(
        files::Open(folder, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags));
  };
  if (writing) {
    UniqueFile settable = open(kHold | WRITE_DAC);
    if (settable || GetLastError() != ERROR_ACCESS_DENIED) return settable;
  }
  return open(kHold);
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

bool RunsWithAdministratorRights() {
  unsigned char sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size)) return false;
  // A filtered token (user account control, not elevated) holds the group for denying only, and is
  // no member here.
  BOOL member = FALSE;
  return CheckTokenMembership(nullptr, sid, &member) && member;
}

HeldFolders::~HeldFolders() {
  for (Folder& folder : folders_) LetGoOfDirectory(folder.handle.get());
}

FolderRefusal HeldFolders::Refuse(int index, FolderRefusal why) {
  refused_ = folders_[index].path;
  return why;
}

FolderRefusal HeldFolders::Inspect(std::span<const char* const> folders, FolderUse use) {
  for (Folder& folder : folders_) {
    LetGoOfDirectory(folder.handle.get());
    folder = Folder{};
  }
  refused_ = nullptr;
  entries_ = Text();
  use_ = use;
  count_ = static_cast<int>(folders.size() < kMaxFolders ? folders.size() : kMaxFolders);
  missingFrom_ = count_;
  for (int i = 0; i < count_; ++i) {
    folders_[i].path = folders[i];
    // Below a missing folder nothing is there to open.
    if (missingFrom_ < i) continue;
    const FolderRefusal refusal = InspectOne(i);
    if (refusal != FolderRefusal::kNone) return refusal;
  }
  return FolderRefusal::kNone;
}

// Opens one folder as itself and holds it, relative to its parent's held handle; looks at it without
// changing anything. A missing folder sets `missingFrom_`.
FolderRefusal HeldFolders::InspectOne(int index) {
  Folder& folder = folders_[index];
  const bool writing = use_ != FolderUse::kDelete;
  const WideText path = ToWide(folder.path);
  UniqueFile handle = OpenToHold(path.c_str(), writing, true);
  if (!handle) {
    // Only a folder that is not there counts as missing; any other failure to look at it leaves
    // nothing checked, and nothing is done there.
    if (!IsMissing(GetLastError())) return Refuse(index, FolderRefusal::kUnconfirmed);
    missingFrom_ = index;
    return FolderRefusal::kNone;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle.get(), &information))
    return Refuse(index, FolderRefusal::kUnconfirmed);
  const ProcessUser user;
  // (The name is asked as well: a system that opens what a link leads to even when asked for the
  // link itself still reports the link's own attributes for its name.)
  const DWORD byName = files::Attributes(path.c_str());
  if (((information.dwFileAttributes | (byName == INVALID_FILE_ATTRIBUTES ? 0 : byName)) &
       FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (RunsWithAdministratorRights()) {
      // Only a link that the administrators or the system made, and that nobody else can point
      // elsewhere: one that others may change gets the protected list through its own handle when the
      // writing starts, as a folder does (never during an uninstallation, which changes no list).
      if (!LinkIsTrusted(handle.get())) return Refuse(index, FolderRefusal::kLinked);
      const Trust trust = TrustOf(handle.get(), user.sid());
      folder.linkToProtect = trust == Trust::kOpenToOthers && writing;
      if (trust != Trust::kTrusted && !folder.linkToProtect) return Refuse(index, FolderRefusal::kLinked);
    }
    // A link that is followed is held as well as the folder it leads to, which is checked in its place.
    folder.link = std::move(handle);
    handle = OpenToHold(path.c_str(), writing, false);
    // A link that leads nowhere: nothing there can be checked, so nothing is done there.
    if (!handle || !GetFileInformationByHandle(handle.get(), &information))
      return Refuse(index, FolderRefusal::kUnconfirmed);
  }
  folder.handle = std::move(handle);
  // A file in the folder's place: the writes into it fail and say so.
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderRefusal::kNone;
  if (!HoldDirectory(path.c_str(), folder.handle.get())) return Refuse(index, FolderRefusal::kUnconfirmed);
  if (!writing) return FolderRefusal::kNone;
  switch (TrustOf(folder.handle.get(), user.sid())) {
    case Trust::kTrusted:
      return FolderRefusal::kNone;
    case Trust::kForeign:
      return Refuse(index, FolderRefusal::kForeignOwner);
    case Trust::kUnreadable:
      return Refuse(index, FolderRefusal::kUnconfirmed);
    case Trust::kOpenToOthers:
      folder.toProtect = true;
      return FolderRefusal::kNone;
  }
  return FolderRefusal::kNone;
}

namespace {

constexpr int kMaxListedEntries = 20;

struct EntryCheck {
  const wchar_t* folder;
  const wchar_t* skip;  // the install folder below, checked as a folder of its own
  std::span<const char* const> ownFiles;
  PSECURITY_DESCRIPTOR descriptor;
  PSID user;
  Text* listing;
  int refused = 0;
};

bool IsOwnFile(const wchar_t* path, std::span<const char* const> ownFiles) {
  for (const char* own : ownFiles)
    if (lstrcmpiW(ToWide(own).c_str(), path) == 0) return true;
  return false;
}

// One direct entry of a folder that has just been given the protected list: the suite's own files get
// the list too; anything that another user owns, or that others may change and was not reset, is
// listed.
bool CheckEntry(const wchar_t* name, DWORD, void* context) {
  auto& check = *static_cast<EntryCheck*>(context);
  if (check.skip != nullptr && lstrcmpiW(name, check.skip) == 0) return true;
  wchar_t path[MAX_PATH];
  if (std::wcslen(check.folder) + 1 + std::wcslen(name) >= MAX_PATH) return true;
  wsprintfW(path, L"%s\\%s", check.folder, name);
  const bool own = IsOwnFile(path, check.ownFiles);
  UniqueFile entry = OpenToHold(path, own, true);
  if (!entry)
    entry.reset(files::Open(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  Trust trust = entry ? TrustOf(entry.get(), check.user) : Trust::kUnreadable;
  if (own && trust != Trust::kForeign && trust != Trust::kUnreadable && entry &&
      Protect(entry.get(), check.descriptor, check.user))
    trust = Trust::kTrusted;
  if (trust == Trust::kTrusted) return true;
  if (++check.refused <= kMaxListedEntries) {
    const Text gbk = ToGbk(path);
    *check.listing =
        JoinTexts({check.listing->get() != nullptr ? check.listing->get() : "", gbk.get(), "\r\n"});
  } else if (check.refused == kMaxListedEntries + 1) {
    *check.listing = JoinTexts({check.listing->get(), "……\r\n"});
  }
  return true;
}

}  // namespace

FolderRefusal HeldFolders::CheckEntries(int index, std::span<const char* const> ownFiles,
                                        PSECURITY_DESCRIPTOR descriptor) {
  const ProcessUser user;
  const WideText folder = ToWide(folders_[index].path);
  WideText below;
  if (index + 1 < count_) below = ToWide(folders_[index + 1].path);
  const wchar_t* skip = index + 1 < count_ ? replacement::NameOf(below.c_str()) : nullptr;
  EntryCheck check{folder.c_str(), skip, ownFiles, descriptor, user.sid(), &entries_};
  if (!files::ForEachEntry(folder.c_str(), &CheckEntry, &check))
    return Refuse(index, FolderRefusal::kUnconfirmed);
  return check.refused == 0 ? FolderRefusal::kNone : Refuse(index, FolderRefusal::kForeignEntries);
}

FolderRefusal HeldFolders::MakeReady(std::span<const char* const> ownFiles) {
  if (use_ == FolderUse::kDelete) return InPlace() ? FolderRefusal::kNone : FolderRefusal::kLinked;
  const ProcessUser user;
  LocalBlock descriptor;
  // The protected list, made once, at its first use.
  const auto haveDescriptor = [&] {
    return descriptor.memory != nullptr || ProtectedDescriptor(user.sid(), descriptor);
  };
  for (int i = 0; i < count_; ++i) {
    Folder& folder = folders_[i];
    if (i >= missingFrom_) {
      if (use_ != FolderUse::kCreateAndWrite) break;  // the writes into it fail and say so
      if (!haveDescriptor()) return Refuse(i, FolderRefusal::kUnconfirmed);
      // Made in one step with its own list, relative to the parent's held handle: there is no moment
      // in which the folder exists with the entries of the folder above. One that somebody made
      // meanwhile is checked like any other.
      const WideText path = ToWide(folder.path);
      SECURITY_ATTRIBUTES security{sizeof security, descriptor.memory, FALSE};
      UniqueFile made(files::MakeDirectory(
          path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC,
          FILE_SHARE_READ | FILE_SHARE_WRITE, &security));
      if (made) {
        if (!HoldDirectory(path.c_str(), made.get())) return Refuse(i, FolderRefusal::kUnconfirmed);
        folder.handle = std::move(made);
        missingFrom_ = i + 1 < count_ ? i + 1 : count_;
        continue;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS) return Refuse(i, FolderRefusal::kUnconfirmed);
      missingFrom_ = count_;
      if (const FolderRefusal refusal = InspectOne(i); refusal != FolderRefusal::kNone) return refusal;
      if (missingFrom_ != count_) return Refuse(i, FolderRefusal::kUnconfirmed);  // gone again
      // The folders below it were never looked at: they are now, before anything is changed.
      for (int below = i + 1; below < count_ && missingFrom_ == count_; ++below)
        if (const FolderRefusal refusal = InspectOne(below); refusal != FolderRefusal::kNone) return refusal;
    }
    if (folder.linkToProtect &&
        !(haveDescriptor() && Protect(folder.link.get(), descriptor.memory, user.sid())))
      return Refuse(i, FolderRefusal::kLinked);
    if (folder.toProtect) {
      if (!haveDescriptor() || !Protect(folder.handle.get(), descriptor.memory, user.sid()))
        return Refuse(i, FolderRefusal::kUnconfirmed);
      // The new list changes neither the lists nor the owners of what is already inside.
      if (const FolderRefusal refusal = CheckEntries(i, ownFiles, descriptor.memory);
          refusal != FolderRefusal::kNone)
        return refusal;
    }
  }
  return InPlace() ? FolderRefusal::kNone : FolderRefusal::kLinked;
}

FolderRefusal HeldFolders::Prepare(std::span<const char* const> folders, FolderUse use,
                                   std::span<const char* const> ownFiles) {
  const FolderRefusal refusal = Inspect(folders, use);
  return refusal != FolderRefusal::kNone ? refusal : MakeReady(ownFiles);
}

bool HeldFolders::InPlace() {
  const wchar_t* moved = nullptr;
  if (HeldDirectoriesInPlace(&moved)) return true;
  for (int i = 0; i < count_; ++i)
    if (folders_[i].path != nullptr && lstrcmpiW(ToWide(folders_[i].path).c_str(), moved) == 0)
      refused_ = folders_[i].path;
  if (refused_ == nullptr && count_ > 0) refused_ = folders_[0].path;
  return false;
}

}  // namespace zv
