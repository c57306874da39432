#include "engines/ccom22/cc_keycache.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "frame/fileutils.h"
#include "frame/keytimeouts.h"
#include "frame/rwsyncs.h"
#include "platform/platform.h"

namespace zk::ccom22 {

namespace {

struct TKeyFileImage {
  std::string UID;
  std::string Path;  // as cached
  std::string Key;   // the path as compared: ASCII lower case, one separator
  SecureBytes Text;  // the file and a terminating zero
  TKeyTimeouts Timeouts;
};

struct TKeyCache {
  TCriticalSection Lock;
  std::vector<std::unique_ptr<TKeyFileImage>> Entries;
  // Users whose key files were all read by the last loading; a certificate cached on its own
  // does not make the rest of a user's files count as loaded.
  std::set<std::string> Loaded;
  TRandomPool Pool;
};

TKeyCache& Cache() {
  static TKeyCache cache;
  return cache;
}

// Windows compares paths without regard to case or to the separator written.
std::string PathKey(const std::string& path) {
  std::string key = path;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return key;
}

TKeyFileImage* Find(const std::string& UID, const std::string& Path) {
  const std::string key = PathKey(Path);
  for (auto& entry : Cache().Entries) {
    if (entry->UID == UID && entry->Key == key) return entry.get();
  }
  return nullptr;
}

bool ReadText(const std::string& File, SecureBytes& Text) {
  SecureBytes buffer(kMaxKeyFile + 1);
  int32_t size = static_cast<int32_t>(kMaxKeyFile);
  if (!ReadFileToBuffer(File, buffer.data(), size)) return false;
  buffer.data()[size] = 0;
  Text.Assign(buffer.data(), static_cast<size_t>(size) + 1);
  return true;
}

void Store(const std::string& UID, const std::string& Path, SecureBytes& Text, int32_t KeyTimeout,
           int32_t LastOpTimeout) {
  TKeyFileImage* entry = Find(UID, Path);
  if (entry == nullptr) {
    auto created = std::make_unique<TKeyFileImage>();
    created->UID = UID;
    created->Path = Path;
    created->Key = PathKey(Path);
    entry = created.get();
    Cache().Entries.push_back(std::move(created));
  }
  entry->Text.Assign(Text.data(), Text.size());
  const uint64_t now = TKeyTimeouts::Now();
  entry->Timeouts.Loaded(KeyTimeout, now);
  entry->Timeouts.Used(LastOpTimeout, now);
}

// The authority lookup of the operation running on this thread.
struct TAuthorityState {
  std::string UID;
  std::vector<std::unique_ptr<SecureBytes>> Handed;
};
thread_local TAuthorityState* t_authority = nullptr;

const char* CC_CALL LookUpAuthority(const char* Dir, int32_t KeyNumber) {
  if (t_authority == nullptr || Dir == nullptr) return nullptr;
  auto copy = std::make_unique<SecureBytes>();
  const std::string path = IncludeDirDelimiter(Dir) + std::to_string(KeyNumber) + ".aut";
  if (!FindCachedFile(t_authority->UID, path, *copy)) return nullptr;
  const char* text = reinterpret_cast<const char*>(copy->data());
  t_authority->Handed.push_back(std::move(copy));
  return text;
}

}  // namespace

TKeyCacheLock::TKeyCacheLock() { Cache().Lock.Enter(); }
TKeyCacheLock::~TKeyCacheLock() { Cache().Lock.Leave(); }
TRandomPool& RandomPool() { return Cache().Pool; }

bool FindCachedFile(const std::string& UID, const std::string& Path, SecureBytes& Image) {
  SectionLock hold(Cache().Lock);
  TKeyFileImage* entry = Find(UID, Path);
  if (entry == nullptr) return false;
  Image.Assign(entry->Text.data(), entry->Text.size());
  return true;
}

bool CacheCertificate(const std::string& CurrentUID, const std::string& CacheName, const std::string& File,
                      int32_t KeyTimeout, int32_t LastOpTimeout) {
  SecureBytes text;
  if (!ReadText(File, text)) return false;
  SectionLock hold(Cache().Lock);
  Store(CurrentUID, CacheName, text, KeyTimeout, LastOpTimeout);
  return true;
}

void UncacheFile(const std::string& UID, const std::string& Path) {
  SectionLock hold(Cache().Lock);
  const std::string key = PathKey(Path);
  auto& entries = Cache().Entries;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const auto& e) { return e->UID == UID && e->Key == key; }),
                entries.end());
}

TKeyCacheScan DropExpired(const std::string& UID, int32_t KeyTimeout, int32_t LastOpTimeout) {
  SectionLock hold(Cache().Lock);
  const uint64_t now = TKeyTimeouts::Now();
  bool matched = false, removed = false;
  auto& entries = Cache().Entries;
  for (auto it = entries.begin(); it != entries.end();) {
    if ((*it)->UID != UID) {
      ++it;
      continue;
    }
    matched = true;
    if ((*it)->Timeouts.Expired(KeyTimeout, LastOpTimeout, now)) {
      it = entries.erase(it);
      removed = true;
    } else {
      (*it)->Timeouts.Used(LastOpTimeout, now);
      ++it;
    }
  }
  if (removed) Cache().Loaded.erase(UID);
  TKeyCacheScan scan;
  scan.Hit = matched && !removed && Cache().Loaded.count(UID) != 0;
  return scan;
}

bool CacheFile(const std::string& UID, const std::string& Name, const std::string& File, int32_t KeyTimeout,
               int32_t LastOpTimeout) {
  SectionLock hold(Cache().Lock);
  if (Find(UID, Name) != nullptr) return true;
  SecureBytes text;
  if (!ReadText(File, text)) return false;
  Store(UID, Name, text, KeyTimeout, LastOpTimeout);
  return true;
}

void MarkLoaded(const std::string& UID) {
  SectionLock hold(Cache().Lock);
  Cache().Loaded.insert(UID);
}

void ForgetAllFiles() {
  SectionLock hold(Cache().Lock);
  Cache().Entries.clear();
  Cache().Loaded.clear();
}

TAuthorityScope::TAuthorityScope(const std::string& UID) {
  t_authority = new TAuthorityState();
  t_authority->UID = UID;
}

TAuthorityScope::~TAuthorityScope() {
  delete t_authority;
  t_authority = nullptr;
}

CC_AUTHORITY_LOOKUP AuthorityLookup() { return &LookUpAuthority; }

}  // namespace zk::ccom22
