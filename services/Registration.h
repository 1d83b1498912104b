// The user's registration in the suite's configuration file (section `yonghuzu`): the nickname
// (`nicheng`), whose presence makes a user registered, and the gender (`xingbie`).
#pragma once

#include "runtime/Text.h"
#include "services/FailedFiles.h"

namespace zv {

// A user has registered: `nicheng` is there and not empty. A configuration without `xingbie` (left
// by an earlier version killed between its two writes) still counts as registered.
bool IsRegistered(TextArg file);

// Writes the gender first and the nickname last, and the nickname only when the gender was written,
// so that a configuration that says "registered" always holds both, whenever and however the writing
// stops. A value that could not be written adds the file to `failed`, with the cause.
void WriteRegistration(TextArg file, TextArg nickname, TextArg gender, FailedFiles& failed);

}  // namespace zv
