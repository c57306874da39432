// The PSE and store files (records with a SHA-256 check, written whole) and the resolution of
// the paths the engine hands over: either separator, possibly upper-cased.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "cpki1_internal.h"
#include "standin.h"
#include "standin_files.h"

namespace cpki1 {

const char kPseMagic[4] = {'Z', 'K', 'V', 'P'};
const char kStoreMagic[4] = {'Z', 'K', 'V', 'S'};

namespace {

#if !defined(_WIN32)
bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}
#endif

}  // namespace

#if !defined(_WIN32)
namespace {

std::string WalkIgnoringCase(const std::string& p) {
  std::error_code ec;
  // Walk the components, taking an existing entry that differs only in case.
  std::filesystem::path resolved = p[0] == '/' ? std::filesystem::path("/") : std::filesystem::path(".");
  for (const auto& part : std::filesystem::path(p).relative_path()) {
    std::filesystem::path next = resolved / part;
    if (!std::filesystem::exists(next, ec)) {
      for (const auto& entry : std::filesystem::directory_iterator(resolved, ec)) {
        if (SameIgnoringCase(entry.path().filename().string(), part.string())) {
          next = entry.path();
          break;
        }
      }
    }
    resolved = next;
  }
  return resolved.string();
}

// Paths resolved before, kept while they exist: the walk lists every directory on the way, which
// a context made for each operation would otherwise repeat each time.
struct ResolvedPaths {
  std::mutex lock;
  std::unordered_map<std::string, std::string> byPath;
};

ResolvedPaths& Resolved() {
  static standin::Immortal<ResolvedPaths> paths;
  return paths.get();
}

constexpr size_t kResolvedLimit = 256;

}  // namespace
#endif

std::string ResolvePath(const std::string& path) {
#if defined(_WIN32)
  return path;
#else
  std::string p = path;
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  std::error_code ec;
  if (p.empty() || std::filesystem::exists(p, ec)) return p;
  ResolvedPaths& cache = Resolved();
  {
    std::lock_guard<std::mutex> hold(cache.lock);
    auto it = cache.byPath.find(p);
    if (it != cache.byPath.end() && std::filesystem::exists(it->second, ec)) return it->second;
  }
  const std::string resolved = WalkIgnoringCase(p);
  if (std::filesystem::exists(resolved, ec)) {
    std::lock_guard<std::mutex> hold(cache.lock);
    if (cache.byPath.size() >= kResolvedLimit) cache.byPath.clear();
    cache.byPath[p] = resolved;
  }
  return resolved;
#endif
}

bool ReadFileBytes(const std::string& path, Bytes& out) {
  std::FILE* f = std::fopen(ResolvePath(path).c_str(), "rb");
  if (f == nullptr) return false;
  out.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool ReadRecords(const std::string& path, const char magic[4], Records& records) {
  Bytes data;
  if (!ReadFileBytes(path, data) || data.size() < 4 + 32 || std::memcmp(data.data(), magic, 4) != 0) return false;
  const size_t body = data.size() - 32;
  if (Sha256(data.data(), body) != Bytes(data.begin() + static_cast<long>(body), data.end())) return false;
  records.clear();
  for (size_t at = 4; at < body;) {
    if (body - at < 5) return false;
    const uint8_t type = data[at];
    const size_t len = static_cast<size_t>(data[at + 1]) << 24 | static_cast<size_t>(data[at + 2]) << 16 |
                       static_cast<size_t>(data[at + 3]) << 8 | data[at + 4];
    at += 5;
    if (body - at < len) return false;
    records.emplace_back(type, Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + len)));
    at += len;
  }
  return true;
}

bool WriteRecords(const std::string& path, const char magic[4], const Records& records) {
  Bytes data(magic, magic + 4);
  for (const auto& r : records) {
    const size_t len = r.second.size();
    data.push_back(r.first);
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(len >> shift));
    data.insert(data.end(), r.second.begin(), r.second.end());
  }
  const Bytes check = Sha256(data);
  data.insert(data.end(), check.begin(), check.end());
  std::string native = ResolvePath(path);
  std::error_code ec;
  const std::filesystem::path p(native);
  if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
  // Written beside, then moved over the old file in one step: a failure leaves the old one.
  // Tests script faults here: "fail StoreWrite <k> <code>" stops the k-th write halfway,
  // "fail StoreMove <k> <code>" refuses its move into place.
  const std::string temporary = native + ".new";
  const bool writeFails = standin::Hook("StoreWrite") != 0;
  const size_t size = writeFails ? data.size() / 2 : data.size();
  if (standin::WriteWholeFile(temporary.c_str(), data.data(), size) != standin::WriteResult::kOk || writeFails) {
    std::remove(temporary.c_str());
    return false;
  }
#if defined(_WIN32)
  const bool moved =
      standin::Hook("StoreMove") == 0 && MoveFileExA(temporary.c_str(), native.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  const bool moved = standin::Hook("StoreMove") == 0 && std::rename(temporary.c_str(), native.c_str()) == 0;
#endif
  if (!moved) std::remove(temporary.c_str());
  return moved;
}

}  // namespace cpki1
