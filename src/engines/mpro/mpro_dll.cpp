#include "engines/mpro/mpro_dll.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "frame/keytimeouts.h"
#include "frame/rwsyncs.h"
#include "platform/platform.h"

namespace zk::mpro {

namespace {

const char* const kFiles[3] = {"mplug.dll", "mplugf.dll", "mplug2.dll"};

// One loaded plug-in: kept until the process ends, like the module itself.
struct Plugin {
  platform::ModuleHandle module = nullptr;
  MPlugApi api;
  bool complete = false;
  // Above 1.0.0.0 the plug-in may be called concurrently. Kept per kind, so that a newer
  // plug-in of one kind never lets an old one of the other run unserialised.
  std::atomic<bool> newer{false};
};

TCriticalSection& LoaderLock() {
  static TCriticalSection lock;
  return lock;
}

Plugin& PluginOf(int kind) {
  static Plugin plugins[3];
  return plugins[kind];
}

bool NewerThanFirstRelease(platform::ModuleHandle module) {
  uint32_t ms = 0, ls = 0;
  if (!platform::FileVersion(platform::ModuleFileName(module), ms, ls)) return false;
  return ms > 0x10000u || (ms == 0x10000u && ls != 0);
}

// Loads the plug-in of the kind on first need (a failed load is tried again by the next binding).
Plugin* LoadPlugin(int kind) {
  Plugin& p = PluginOf(kind);
  SectionLock hold(LoaderLock());
  if (p.module != nullptr) return &p;
  p.module = LoadToolkitLibrary(kFiles[kind]);
  if (p.module == nullptr) return nullptr;
  if (kind != 0) p.newer = NewerThanFirstRelease(p.module);
  bool complete = true;
#define ZK_MPLUG_RESOLVE(name)                                                              \
  p.api.name = reinterpret_cast<decltype(p.api.name)>(platform::FindSymbol(p.module, #name)); \
  if (p.api.name == nullptr) complete = false;
  ZK_MPLUG_REQUIRED(ZK_MPLUG_RESOLVE)
#undef ZK_MPLUG_RESOLVE
#define ZK_MPLUG_RESOLVE_OPTIONAL(name) \
  p.api.name = reinterpret_cast<decltype(p.api.name)>(platform::FindSymbol(p.module, #name));
  ZK_MPLUG_OPTIONAL(ZK_MPLUG_RESOLVE_OPTIONAL)
#undef ZK_MPLUG_RESOLVE_OPTIONAL
  // Only the newer plug-ins may skip the validity-time check.
  if (kind == 0) p.api.VerifyDataIgnoreTime = nullptr;
  p.complete = complete;
  return &p;
}

TCriticalSection& SerialisationLock() {
  static TCriticalSection lock;
  return lock;
}

// One plug-in context; finished with the plug-in's DoneCrypto when destroyed.
struct Node {
  mpapi::DoneCrypto done = nullptr;
  MPHANDLE handle = 0;
  uint64_t created = 0;  // monotonic milliseconds
  int32_t timeout = 0;   // seconds
  Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;
  ~Node() {
    if (handle != 0 && done != nullptr) done(handle);
  }
  bool Usable(int32_t Timeout, uint64_t Now) const {
    if (Timeout <= 0 || timeout <= 0 || Now < created) return false;
    const uint64_t age = Now - created;
    return age <= uint64_t(Timeout) * 1000u && age <= uint64_t(timeout) * 1000u;
  }
};

struct Cache {
  TRWCriticalSection lock;
  std::map<std::string, std::unique_ptr<Node>> nodes;
};

Cache& Contexts() {
  static Cache cache;
  return cache;
}

// The kind and every value, each ending with a zero: no two parameter sets and no two kinds
// share a key, and values are compared exactly.
std::string CacheKey(int kind, const std::vector<std::string>& values) {
  size_t size = 2;
  for (const std::string& v : values) size += v.size() + 1;
  std::string key;
  key.reserve(size);
  key += char('0' + kind);
  key += '\0';
  for (const std::string& v : values) {
    key += v;
    key += '\0';
  }
  return key;
}

// Whole seconds; an empty, non-numeric, negative or out-of-range value gives 0.
int32_t TimeoutOf(const std::vector<std::string>& values) {
  if (values.size() <= kTimeoutPosition) return 0;
  const std::string& text = values[kTimeoutPosition];
  size_t at = 0, end = text.size();
  while (at < end && (text[at] == ' ' || text[at] == '\t')) ++at;
  while (end > at && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (at == end || end - at > 9) return 0;
  int32_t seconds = 0;
  for (size_t i = at; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    seconds = seconds * 10 + (text[i] - '0');
  }
  return seconds;
}

// Drops contexts past their own time-out; called with the write lock held.
void SweepExpired(Cache& cache, uint64_t now) {
  for (auto it = cache.nodes.begin(); it != cache.nodes.end();) {
    if (!it->second->Usable(it->second->timeout, now))
      it = cache.nodes.erase(it);
    else
      ++it;
  }
}

// A new context with the values set and the keys read; null when the plug-in makes none.
std::unique_ptr<Node> Open(const MPlugApi& api, const std::vector<std::string>& values, int32_t timeout,
                           uint64_t now) {
  auto node = std::make_unique<Node>();
  node->done = api.DoneCrypto;
  node->handle = api.InitCrypto();
  if (node->handle == 0) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) api.SetCryptoParamValue(node->handle, int32_t(i), values[i].c_str());
  api.KeysRenewal(node->handle);
  node->created = now;
  node->timeout = timeout;
  return node;
}

}  // namespace

TMProDLL::TMProDLL(int Kind) : kind_(Kind) {
  Plugin* p = Kind >= 0 && Kind <= 2 ? LoadPlugin(Kind) : nullptr;
  if (p == nullptr) return;
  LibLoaded = true;
  FunctionsPresent = p->complete;
  api_ = &p->api;
}

bool TMProDLL::Serialised() const { return kind_ == 0 || !PluginOf(kind_).newer.load(); }

int32_t TMProDLL::Call(const std::vector<std::string>& Values, const std::function<int32_t(MPHANDLE)>& Operation) {
  const int32_t announced = api_->GetCryptoParamNumber();
  const size_t count = announced > 0 ? size_t(announced) : 0;
  // The list as the plug-in counts its values: the caller's own when it already is.
  std::vector<std::string> padded;
  if (Values.size() != count) {
    padded.resize(count);
    for (size_t i = 0; i < count && i < Values.size(); ++i) padded[i] = Values[i];
  }
  const std::vector<std::string>& values = Values.size() == count ? Values : padded;
  const std::string key = CacheKey(kind_, values);
  const int32_t timeout = TimeoutOf(values);

  std::optional<SectionLock> serial;
  if (Serialised()) serial.emplace(SerialisationLock());
  // A context for this call alone is never in the cache, so it needs none of the cache's locks:
  // holding the write lock through the call would stop every other thread's operation.
  if (timeout <= 0) {
    const std::unique_ptr<Node> node = Open(*api_, values, timeout, TKeyTimeouts::Now());
    return node ? Operation(node->handle) : kNoContext;
  }
  Cache& cache = Contexts();
  {
    ReadLock read(cache.lock);
    auto it = cache.nodes.find(key);
    if (it != cache.nodes.end() && it->second->Usable(timeout, TKeyTimeouts::Now()))
      return Operation(it->second->handle);
  }
  WriteLock write(cache.lock);
  const uint64_t now = TKeyTimeouts::Now();
  // Another thread may have made the context meanwhile: use it rather than replace it.
  auto it = cache.nodes.find(key);
  if (it != cache.nodes.end() && it->second->Usable(timeout, now)) return Operation(it->second->handle);
  if (it != cache.nodes.end()) cache.nodes.erase(it);
  SweepExpired(cache, now);

  std::unique_ptr<Node> node = Open(*api_, values, timeout, now);
  if (!node) return kNoContext;  // a dead context is never kept
  const MPHANDLE handle = node->handle;
  cache.nodes[key] = std::move(node);
  return Operation(handle);
}

std::string TMProDLL::ErrorText(int32_t Code, const std::string& LastException) {
  switch (Code) {
    case -1: return "Library not initialized";
    case -2: return "An exception - " + LastException;
    case -3: return "Bad parameters passed";
    case -4: return "Can't get sign context";
    case -5: return "Signature not found";
    case -6: return "Unable to load private key for operation";
    case -100: return "Function not finalize";
    default: break;
  }
  if (api_ == nullptr || api_->GetCryptoErrorString == nullptr) return "";
  // The plug-in writes into a buffer of its own announced size, never the caller's.
  const int32_t limit = api_->GetMaxErrorStringLength();
  if (limit <= 0 || limit > 1 << 20) return "";
  std::string text(size_t(limit) + 1, '\0');
  api_->GetCryptoErrorString(Code, text.data());
  text.resize(std::strlen(text.c_str()));
  return text;
}

void ClearContexts(int Kind) {
  if (Kind < 0 || Kind > 2) return;
  {
    SectionLock hold(LoaderLock());
    if (PluginOf(Kind).module == nullptr) return;
  }
  std::optional<SectionLock> serial;
  if (Kind == 0 || !PluginOf(Kind).newer.load()) serial.emplace(SerialisationLock());
  Cache& cache = Contexts();
  WriteLock write(cache.lock);
  cache.nodes.clear();
}

size_t CachedContexts() {
  Cache& cache = Contexts();
  ReadLock read(cache.lock);
  return cache.nodes.size();
}

}  // namespace zk::mpro
