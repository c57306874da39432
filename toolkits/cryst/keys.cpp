// The key stores as the commands see them: the owner's generations (in the secret-key directory or
// on the emulated key device), the correspondents in the public-key directory, imports and
// removals; and the emulated key devices, one directory per port.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "cryst_internal.h"
#include "frame/publish.h"
#include "standin.h"

namespace cryst {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxPublicFileSize = 4096;

std::mutex& DeviceLock() {
  static standin::Immortal<std::mutex> lock;
  return lock.get();
}

// Changes of the public-key directory go one at a time: an import picks its user number from what
// it reads, and two at once could pick the same one and replace each other's file.
std::mutex& ChangeLock() {
  static standin::Immortal<std::mutex> lock;
  return lock.get();
}

std::map<int32_t, std::string>& Devices() {
  static standin::Immortal<std::map<int32_t, std::string>> devices;
  return devices.get();
}

std::string PublicFileName(int32_t number, int32_t generation) {
  char name[40];
  std::snprintf(name, sizeof(name), "u%04dg%03d.pub", static_cast<int>(number), static_cast<int>(generation));
  return name;
}

bool ParsePublicFileName(const std::string& name, int32_t& number, int32_t& generation) {
  int n = 0, g = 0;
  char tail = 0;
  if (name.size() != 13 || std::sscanf(name.c_str(), "u%4dg%3d.pu%c", &n, &g, &tail) != 3 || tail != 'b') return false;
  number = n;
  generation = g;
  return n >= 1 && g >= 1;
}

}  // namespace

int32_t OwnerDir(const Context& C, std::string& Dir) {
  if (IsBlank(C.S.DeviceDll)) {
    Dir = C.S.SecretKeyDir;
    return kOk;
  }
  std::lock_guard<std::mutex> hold(DeviceLock());
  const auto found = Devices().find(C.S.Port);
  if (found == Devices().end()) return kDeviceAbsent;
  Dir = found->second;
  return kOk;
}

int32_t OwnerKeys(const Context& C, std::vector<PublicKey>& Keys) {
  std::string dir;
  const int32_t code = OwnerDir(C, dir);
  return code != kOk ? code : ReadOwnerKeys(dir, Keys);
}

int32_t LoadSecret(const Context& C, int32_t Generation, SecretKey& Key) {
  std::string dir;
  const int32_t code = OwnerDir(C, dir);
  return code != kOk ? code : ReadOwnerSecret(dir, Generation, C.Password, Key);
}

int32_t Correspondents(const Context& C, std::vector<Correspondent>& All) {
  All.clear();
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(C.S.PublicKeyDir), error)) {
    Correspondent one;
    int32_t generation = 0;
    if (!ParsePublicFileName(entry.path().filename().string(), one.Number, generation)) continue;
    Bytes file;
    // A damaged file names nobody: its keys are not used.
    if (!ReadFile(entry.path().string(), file, kMaxPublicFileSize) || DecodePublicFile(file, one.Key, false) != kOk ||
        one.Key.Generation != generation) {
      continue;
    }
    All.push_back(one);
  }
  return error ? kKeyStore : kOk;
}

int32_t CurrentKeyOf(const Context& C, int32_t Number, PublicKey& Key) {
  if (Number == 0) {
    std::vector<PublicKey> own;
    const int32_t code = OwnerKeys(C, own);
    if (code == kOk) Key = own.back();
    return code;
  }
  std::vector<Correspondent> all;
  const int32_t code = Correspondents(C, all);
  if (code != kOk) return code;
  bool found = false;
  for (const Correspondent& one : all) {
    if (one.Number == Number && (!found || one.Key.Generation > Key.Generation)) {
      Key = one.Key;
      found = true;
    }
  }
  return found ? kOk : kUnknownUser;
}

int32_t KeyById(const Context& C, const uint8_t KeyId[8], PublicKey& Key, int32_t& Number) {
  std::vector<PublicKey> own;
  if (OwnerKeys(C, own) == kOk) {
    for (const PublicKey& key : own) {
      if (std::memcmp(key.KeyId, KeyId, 8) != 0) continue;
      Key = key;
      Number = 0;
      return kOk;
    }
  }
  std::vector<Correspondent> all;
  const int32_t code = Correspondents(C, all);
  if (code != kOk) return code;
  for (const Correspondent& one : all) {
    if (std::memcmp(one.Key.KeyId, KeyId, 8) != 0) continue;
    Key = one.Key;
    Number = one.Number;
    return kOk;
  }
  return kUnknownUser;
}

int32_t ImportPublicKeyFile(const Context& C, const std::string& File) {
  Bytes file;
  if (!ReadFile(File, file, kMaxPublicFileSize)) return kFileError;
  PublicKey key;
  int32_t code = DecodePublicFile(file, key, true);
  if (code != kOk) return code;
  std::vector<PublicKey> own;
  if (OwnerKeys(C, own) == kOk && own.back().UID == key.UID) return kOwnKey;
  std::lock_guard<std::mutex> hold(ChangeLock());
  std::vector<Correspondent> all;
  if ((code = Correspondents(C, all)) != kOk) return code;
  // The same UID keeps its number (a renewed key is one more generation); a new one gets the next.
  int32_t number = 0, highest = 0;
  for (const Correspondent& one : all) {
    if (one.Key.UID == key.UID) number = one.Number;
    highest = std::max(highest, one.Number);
  }
  if (number == 0) number = highest + 1;
  const std::string path = JoinPath(C.S.PublicKeyDir, PublicFileName(number, key.Generation));
  // The same file again changes nothing; not replacing it spares readers that have it open.
  Bytes filed;
  if (ReadFile(path, filed, kMaxPublicFileSize) && filed == file) return kOk;
  return WriteReplacing(path, file) ? kOk : kFileError;
}

int32_t RemoveUser(const Context& C, int32_t Number) {
  if (Number == 0) return kOwnKey;
  std::lock_guard<std::mutex> hold(ChangeLock());
  std::vector<std::string> doomed;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(C.S.PublicKeyDir), error)) {
    int32_t number = 0, generation = 0;
    if (ParsePublicFileName(entry.path().filename().string(), number, generation) && number == Number) {
      doomed.push_back(entry.path().string());
    }
  }
  if (doomed.empty()) return kUnknownUser;
  // Every generation goes, or none does.
  return zk::RemoveFilesTogether(doomed) ? kOk : kFileError;
}

}  // namespace cryst

// Attaches the key device of a port (its content is a directory of the owner's key files, as a
// secret-key directory holds them), or detaches it with a null dir.
STANDIN_EXPORT int EXC_StandIn_AttachDevice(int port, const char* dir) {
  std::lock_guard<std::mutex> hold(cryst::DeviceLock());
  if (dir == nullptr) {
    cryst::Devices().erase(port);
  } else {
    cryst::Devices()[port] = dir;
  }
  return 0;
}
