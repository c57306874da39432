// Reading a secret from the user's terminal without echo.
#pragma once

#include <string>

namespace zkmint {

// Shows `prompt` and reads one line without echoing it. False when there is no terminal to ask
// (a script, a service) or reading fails; the host must not block on a pipe for a password.
bool ReadSecretLine(const std::string& prompt, std::string& line);

// Overwrites a secret before its memory is given back.
void WipeString(std::string& secret);

}  // namespace zkmint
