// The process-wide key-file cache of the Crypto COM 2.2 binding: texts of certificates, secret
// keys and authority keys, each cached for one user (UID) under its full path and kept within the
// two time-outs (monotonic clock); and the random pool, the image of the random file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engines/ccom22/cc_api.h"
#include "frame/secure.h"

namespace zk::ccom22 {

constexpr size_t kMaxKeyFile = 2048;
constexpr size_t kPoolSize = 32768;

// Copies the cached text of (UID, Path), zero-terminated, into Image; false when not cached.
bool FindCachedFile(const std::string& UID, const std::string& Path, SecureBytes& Image);
// Reads File and caches it for CurrentUID under CacheName (replacing an older text).
bool CacheCertificate(const std::string& CurrentUID, const std::string& CacheName, const std::string& File,
                      int32_t KeyTimeout, int32_t LastOpTimeout);
void UncacheFile(const std::string& UID, const std::string& Path);

// The cache's own steps of loading a user's keys, under its lock.
struct TKeyCacheScan {
  bool Hit = false;  // the user has entries, none expired
};
TKeyCacheScan DropExpired(const std::string& UID, int32_t KeyTimeout, int32_t LastOpTimeout);
// Caches File for UID under Name unless that name is cached; false when it could not be read
// (or is too long).
bool CacheFile(const std::string& UID, const std::string& Name, const std::string& File, int32_t KeyTimeout,
               int32_t LastOpTimeout);
// Every key file of UID has been read.
void MarkLoaded(const std::string& UID);
// Frees every entry.
void ForgetAllFiles();

// Holds the cache's lock (re-entrant): key loading and the random pool are done under it.
class TKeyCacheLock {
 public:
  TKeyCacheLock();
  ~TKeyCacheLock();
  TKeyCacheLock(const TKeyCacheLock&) = delete;
  TKeyCacheLock& operator=(const TKeyCacheLock&) = delete;
};

// The random pool (under the cache lock).
struct TRandomPool {
  SecureBytes Image{kPoolSize};
  size_t Used = 0;
  bool Loaded = false;
  std::string File;           // the random file it was read from
  int32_t SeededHardware = -1;  // hardware flag of the last seeding; -1 before the first
};
TRandomPool& RandomPool();

// While an operation runs on this thread, the authority-key lookup planted in its toolkit
// contexts finds the authority keys cached for UID; the texts it hands out stay valid until
// the scope ends.
class TAuthorityScope {
 public:
  explicit TAuthorityScope(const std::string& UID);
  ~TAuthorityScope();
  TAuthorityScope(const TAuthorityScope&) = delete;
  TAuthorityScope& operator=(const TAuthorityScope&) = delete;
};
CC_AUTHORITY_LOOKUP AuthorityLookup();

}  // namespace zk::ccom22
