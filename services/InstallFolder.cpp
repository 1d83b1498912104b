#include "services/InstallFolder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "runtime/Handles.h"

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

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return sid != nullptr && IsWellKnownSid(sid, type); }

// The user the process runs as, in string form ("S-1-5-21-..."), into `sid`.
bool CurrentUserSid(LocalBlock& sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  UniqueHandle owned(token);
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return false;
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return false;
  sid.memory = text;
  return true;
}

// The protected access list of the install folders, inherited by everything made in them: full
// control for SYSTEM, Administrators and the current user, read and execute (0x1200a9) for Users;
// nothing inherited from the folder above.
bool ProtectedDescriptor(LocalBlock& descriptor) {
  LocalBlock user;
  if (!CurrentUserSid(user)) return false;
  char sddl[256];
  wsprintfA(sddl, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)(A;OICI;0x1200a9;;;BU)",
            static_cast<const char*>(user.memory));
  return ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor.memory,
                                                              nullptr) != 0;
}

// Rights that let a group change what is in a folder, or the folder's own list.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool IsBroadGroup(PSID sid) {
  return IsWellKnown(sid, WinWorldSid) || IsWellKnown(sid, WinAuthenticatedUserSid) ||
         IsWellKnown(sid, WinBuiltinUsersSid) || IsWellKnown(sid, WinInteractiveSid);
}

// The folder's list allows a broad group to change it or anything in it, now or by inheritance (an
// entry that applies only to what is made inside counts as well).
bool BroadGroupsMayChange(const char* folder) {
  PACL dacl = nullptr;
  LocalBlock descriptor;
  if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor.memory) != ERROR_SUCCESS) {
    return false;
  }
  if (dacl == nullptr) return true;  // no list at all: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kChangingRights) != 0 && IsBroadGroup(const_cast<DWORD*>(&allowed->SidStart)))
      return true;
  }
  return false;
}

// A link that Administrators or SYSTEM own was made by someone who could write there anyway. The
// link itself is asked, not what it points at.
bool LinkIsTrusted(const char* folder) {
  UniqueFile link(CreateFileA(folder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
  if (!link) return false;
  PSID owner = nullptr;
  LocalBlock descriptor;
  if (GetSecurityInfo(link.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor.memory) != ERROR_SUCCESS) {
    return false;
  }
  return IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsWellKnown(owner, WinLocalSystemSid);
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

const char* PrepareInstallFolders(std::span<const char* const> folders, FolderUse use) {
  LocalBlock descriptor;
  bool haveDescriptor = false;
  const bool administrator = RunsWithAdministratorRights();
  for (const char* folder : folders) {
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (use != FolderUse::kCreateAndWrite) continue;
      if (!haveDescriptor) haveDescriptor = ProtectedDescriptor(descriptor);
      // Made in one step with its own list: there is no moment in which the folder exists with the
      // entries of the folder above.
      // (Without a list of its own, which only a failed token query prevents, it is made as before.)
      SECURITY_ATTRIBUTES security{sizeof security, descriptor.memory, FALSE};
      CreateDirectoryA(folder, haveDescriptor ? &security : nullptr);
      continue;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && administrator && !LinkIsTrusted(folder)) {
      return folder;
    }
    if (use == FolderUse::kDelete || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
    if (!BroadGroupsMayChange(folder)) continue;
    if (!haveDescriptor) haveDescriptor = ProtectedDescriptor(descriptor);
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (haveDescriptor && GetSecurityDescriptorDacl(descriptor.memory, &present, &dacl, &defaulted)) {
      // Refused where this user neither owns the folder nor has administrator rights: it stays.
      SetNamedSecurityInfoA(const_cast<char*>(folder), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            dacl, nullptr);
    }
  }
  return nullptr;
}

}  // namespace zv
