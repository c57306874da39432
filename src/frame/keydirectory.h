// A directory of correspondents' public keys (or certificates) with a cache of them by UID.
//
// The engines keep one file per correspondent in a directory (optionally with subdirectories).
// The cache is read from the directory on first use, without holding the lock that readers of
// the cache take, and follows the directory through Include, Remove and Refresh, which change the
// files on disk all or nothing (frame/publish.h). Of several files with one UID the first one read
// serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "frame/publish.h"

namespace zk {

// Which files belong to the directory and how a new one is named.
struct KeyDirectoryLayout {
  std::string Ext;              // the files whose names end in these (three) characters, any case
  bool Recursive = false;       // subdirectories hold keys too
  bool NamedByUID = false;      // a new file is first named UID + "." + Ext, when the UID can be a name
  std::string NumberedPrefix;   // else Prefix + N + "." + Ext, N the next free number
  bool IgnoreCase = false;      // UIDs are compared ignoring ASCII case
};

// The public-key files of the GOST adapters: "<UID>.pub" or "pk<N>.pub" anywhere below the
// directory, UIDs compared exactly.
KeyDirectoryLayout PublicKeyFilesLayout();

enum class KeyDirResult { Ok, NoDirectory, NotFound, WriteFailed, RemoveFailed };

// The file-level part, independent of what an engine keeps per key.
class TKeyDirectoryFiles {
 public:
  explicit TKeyDirectoryFiles(KeyDirectoryLayout Layout) : layout_(std::move(Layout)) {}
  const KeyDirectoryLayout& Layout() const { return layout_; }
  // The UID as the cache keys it.
  std::string Key(const std::string& UID) const;
  // The file named after the UID, or empty when the layout does not name files so or the UID
  // cannot be a file name.
  std::string NamedPath(const std::string& Dir, const std::string& UID) const;
  // Every file of the directory, in the order they are read.
  std::vector<std::string> ListFiles(const std::string& Dir) const;
  // Publishes Image as the UID's one file, retiring OwnFiles (the UID's files so far); the chosen
  // path in Written. Prefers the UID's own name, then a numbered one.
  KeyDirResult Publish(const std::string& Dir, const std::string& UID, const void* Image, size_t Size,
                       const std::vector<std::string>& OwnFiles, std::string& Written) const;

 private:
  KeyDirectoryLayout layout_;
};

template <typename Entry>
class TKeyDirectory {
 public:
  // Reads one file into UID and Value; false for a file that holds no key (it is skipped).
  using Reader = std::function<bool(const std::string& Path, std::string& UID, Entry& Value)>;

  TKeyDirectory(KeyDirectoryLayout Layout, Reader Read) : files_(std::move(Layout)), read_(std::move(Read)) {}
  TKeyDirectory(const TKeyDirectory&) = delete;
  TKeyDirectory& operator=(const TKeyDirectory&) = delete;

  // Runs Use(Entry&, const std::string& Path) on the UID's entry under the cache's lock; NotFound
  // when no file of Dir has the UID. Use must not call back into this directory.
  template <typename Function>
  KeyDirResult Use(const std::string& Dir, const std::string& UID, Function&& Use) {
    for (;;) {
      Build(Dir);
      std::lock_guard<std::mutex> hold(lock_);
      if (!BuiltFor(Dir)) continue;  // dropped meanwhile
      auto found = cache_.find(files_.Key(UID));
      if (found == cache_.end()) return KeyDirResult::NotFound;
      Use(*found->second.Value, static_cast<const std::string&>(found->second.Path));
      return KeyDirResult::Ok;
    }
  }

  // Runs Visit(Entry&) on every cached entry under the cache's lock (nothing is read from disk).
  template <typename Function>
  void ForEachCached(Function&& Visit) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& record : cache_) Visit(*record.second.Value);
  }

  // Reads the directory now unless the cache holds it, so that a caller can do it before taking
  // a lock of its own.
  void Prepare(const std::string& Dir) { Build(Dir); }

  bool Contains(const std::string& Dir, const std::string& UID) {
    return Use(Dir, UID, [](Entry&, const std::string&) {}) == KeyDirResult::Ok;
  }

  // Stores Image as the UID's file in place of the ones it has, and caches Value for it.
  KeyDirResult Include(const std::string& Dir, const std::string& UID, const void* Image, size_t Size,
                       std::unique_ptr<Entry> Value) {
    std::lock_guard<std::mutex> change(changes_);
    std::string written;
    const KeyDirResult result = files_.Publish(Dir, UID, Image, Size, PathsOf(Dir, UID), written);
    if (result != KeyDirResult::Ok) return result;
    std::lock_guard<std::mutex> hold(lock_);
    ++generation_;
    if (BuiltFor(Dir)) {
      cache_.erase(files_.Key(UID));
      cache_.emplace(files_.Key(UID), Record{written, std::move(Value)});
    }
    return KeyDirResult::Ok;
  }

  // Deletes every file of the UID, all or none.
  KeyDirResult Remove(const std::string& Dir, const std::string& UID);
  // Reads the UID's file again (or looks for one when none is cached); a file that no longer holds
  // the UID makes the whole directory be read again. NotFound when no file has the UID.
  KeyDirResult Refresh(const std::string& Dir, const std::string& UID);
  // Forgets the cache; the next use reads the directory again.
  void Drop() {
    std::lock_guard<std::mutex> hold(lock_);
    cache_.clear();
    built_ = false;
    ++generation_;
  }

 private:
  struct Record {
    std::string Path;
    std::unique_ptr<Entry> Value;
  };
  using Cache = std::multimap<std::string, Record>;

  bool BuiltFor(const std::string& Dir) const { return built_ && dir_ == Dir; }

  bool ReadRecord(const std::string& Path, std::string& UID, Record& Out) const {
    auto value = std::make_unique<Entry>();
    if (!read_(Path, UID, *value)) return false;
    Out = Record{Path, std::move(value)};
    return true;
  }

  Cache Scan(const std::string& Dir) const {
    Cache fresh;
    for (const std::string& path : files_.ListFiles(Dir)) {
      std::string uid;
      Record record;
      if (ReadRecord(path, uid, record)) fresh.emplace(files_.Key(uid), std::move(record));
    }
    return fresh;
  }

  // Reads the directory unless the cache holds it; the lock is not held while reading, and a
  // change made meanwhile makes the reading start again.
  void Build(const std::string& Dir) {
    for (;;) {
      uint64_t generation;
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (BuiltFor(Dir)) return;
        generation = generation_;
      }
      Cache fresh = Scan(Dir);
      std::lock_guard<std::mutex> hold(lock_);
      if (BuiltFor(Dir)) return;
      if (generation != generation_) continue;
      cache_ = std::move(fresh);
      dir_ = Dir;
      built_ = true;
      ++generation_;
      return;
    }
  }

  // The files that hold the UID now (callers hold changes_, so none is added meanwhile).
  std::vector<std::string> PathsOf(const std::string& Dir, const std::string& UID) {
    Build(Dir);
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> paths;
    if (BuiltFor(Dir)) {
      auto range = cache_.equal_range(files_.Key(UID));
      for (auto it = range.first; it != range.second; ++it) paths.push_back(it->second.Path);
      return paths;
    }
    // Dropped while we looked: read the files again without the cache.
    for (const std::string& path : files_.ListFiles(Dir)) {
      std::string uid;
      Record record;
      if (ReadRecord(path, uid, record) && files_.Key(uid) == files_.Key(UID)) paths.push_back(path);
    }
    return paths;
  }

  TKeyDirectoryFiles files_;
  Reader read_;
  std::mutex changes_;  // one change of the directory at a time
  std::mutex lock_;     // the cache
  Cache cache_;
  std::string dir_;
  bool built_ = false;
  uint64_t generation_ = 0;
};

template <typename Entry>
KeyDirResult TKeyDirectory<Entry>::Remove(const std::string& Dir, const std::string& UID) {
  std::lock_guard<std::mutex> change(changes_);
  if (!RemoveFilesTogether(PathsOf(Dir, UID))) return KeyDirResult::RemoveFailed;
  std::lock_guard<std::mutex> hold(lock_);
  ++generation_;
  cache_.erase(files_.Key(UID));
  return KeyDirResult::Ok;
}

template <typename Entry>
KeyDirResult TKeyDirectory<Entry>::Refresh(const std::string& Dir, const std::string& UID) {
  std::lock_guard<std::mutex> change(changes_);
  const std::string key = files_.Key(UID);
  std::vector<std::string> paths;
  bool built;
  {
    std::lock_guard<std::mutex> hold(lock_);
    built = BuiltFor(Dir);
    auto range = cache_.equal_range(key);
    for (auto it = range.first; built && it != range.second; ++it) paths.push_back(it->second.Path);
  }
  if (!built) {
    Build(Dir);
    std::lock_guard<std::mutex> hold(lock_);
    return cache_.count(key) > 0 ? KeyDirResult::Ok : KeyDirResult::NotFound;
  }
  Cache fresh;
  bool stillTheUIDs = true;
  for (const std::string& path : paths) {
    std::string uid;
    Record record;
    stillTheUIDs = stillTheUIDs && ReadRecord(path, uid, record) && files_.Key(uid) == key;
    if (stillTheUIDs) fresh.emplace(key, std::move(record));
  }
  if (paths.empty()) {
    // Not cached: the file named after the UID first, then every file of the directory.
    std::vector<std::string> candidates;
    const std::string named = files_.NamedPath(Dir, UID);
    if (!named.empty()) candidates.push_back(named);
    for (const std::string& path : files_.ListFiles(Dir)) candidates.push_back(path);
    for (const std::string& path : candidates) {
      std::string uid;
      Record record;
      if (ReadRecord(path, uid, record) && files_.Key(uid) == key) {
        fresh.emplace(key, std::move(record));
        break;
      }
    }
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    ++generation_;
    if (!stillTheUIDs || !BuiltFor(Dir)) {
      cache_.clear();
      built_ = false;
    } else {
      cache_.erase(key);
      for (auto& record : fresh) cache_.emplace(key, std::move(record.second));
    }
  }
  Build(Dir);
  std::lock_guard<std::mutex> hold(lock_);
  return cache_.count(key) > 0 ? KeyDirResult::Ok : KeyDirResult::NotFound;
}

}  // namespace zk
