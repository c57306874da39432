// The two host callbacks zkmint installs in every engine: the password request (terminal
// without echo, or the first line of a file) and the touch-memory prompt on standard error.
#pragma once

#include <cstdint>
#include <string>

#include "zk_mint.h"

namespace zkmint {

// The file the password request reads from; empty means ask on the terminal.
void SetPasswordFile(const std::string& path);
std::string PasswordFile();

int32_t ZK_STDCALL PasswordRequest(char* buffer, int32_t bufferSize);
void ZK_STDCALL TouchMemoryRequest(int32_t state);

// Copies `password` and its NUL into a buffer of `bufferSize` bytes; false, writing nothing,
// when it does not fit whole (a cut password would only fail later, less clearly).
bool CopyPassword(const std::string& password, char* buffer, int32_t bufferSize);

// The first line of a password file without its line end; false when it cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password);

}  // namespace zkmint
