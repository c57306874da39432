#include "callbacks.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "terminal.h"

namespace zkmint {
namespace {

std::mutex passwordFileLock;
std::string passwordFile;

std::string CurrentPasswordFile() {
  std::lock_guard<std::mutex> guard(passwordFileLock);
  return passwordFile;
}

}  // namespace

std::string PasswordFile() { return CurrentPasswordFile(); }

void SetPasswordFile(const std::string& path) {
  std::lock_guard<std::mutex> guard(passwordFileLock);
  passwordFile = path;
}

bool ReadPasswordFile(const std::string& path, std::string& password) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::getline(file, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return !file.bad();
}

bool CopyPassword(const std::string& password, char* buffer, int32_t bufferSize) {
  if (!buffer || bufferSize <= 0 || password.size() >= static_cast<size_t>(bufferSize)) return false;
  std::memcpy(buffer, password.c_str(), password.size() + 1);
  return true;
}

int32_t ZK_STDCALL PasswordRequest(char* buffer, int32_t bufferSize) {
  std::string file = CurrentPasswordFile();
  std::string password;
  bool got = file.empty() ? ReadSecretLine("Key password: ", password) : ReadPasswordFile(file, password);
  if (!got) {
    std::fprintf(stderr, "zkmint: %s\n",
                 file.empty() ? "no terminal to ask for the key password; use --password-file"
                              : ("cannot read the password file " + file).c_str());
    return 0;
  }
  bool copied = CopyPassword(password, buffer, bufferSize);
  if (!copied) std::fprintf(stderr, "zkmint: the password is longer than the engine accepts (%d bytes)\n",
                            static_cast<int>(bufferSize) - 1);
  WipeString(password);
  return copied ? 1 : 0;
}

void ZK_STDCALL TouchMemoryRequest(int32_t state) {
  if (state == 0)
    std::fputs("zkmint: attach your touch-memory key to the reader...\n", stderr);
  else
    std::fputs("zkmint: touch-memory key no longer needed.\n", stderr);
  std::fflush(stderr);
}

}  // namespace zkmint
