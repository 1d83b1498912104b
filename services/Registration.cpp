#include "services/Registration.h"

#include "runtime/FileOperations.h"
#include "services/FailureCauses.h"
#include "services/TextHelpers.h"

namespace zv {
namespace {

constexpr char kSection[] = "yonghuzu";
constexpr char kNicknameKey[] = "nicheng";
constexpr char kGenderKey[] = "xingbie";

bool WriteValue(TextArg file, const char* key, TextArg value, FailedFiles& failed) {
  ForgetLastError();
  if (WriteIniValue(file, kSection, TextArg(key), value)) return true;
  failed.Add(file, CauseOfLastFailure(file));
  return false;
}

}  // namespace

bool IsRegistered(TextArg file) {
  const Text nickname = ReadIniValue(file, kSection, kNicknameKey);
  return CompareTexts(nickname.get(), "") != 0;
}

void WriteRegistration(TextArg file, TextArg nickname, TextArg gender, FailedFiles& failed) {
  // Without its gender the user would count as registered and never be asked again.
  if (WriteValue(file, kGenderKey, gender, failed)) WriteValue(file, kNicknameKey, nickname, failed);
}

}  // namespace zv
