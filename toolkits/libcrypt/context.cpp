#include "context.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "gost.h"
#include "standin.h"

namespace libcrypt {
namespace {

// Live contexts by id, spread over shards by id so that callers on different threads, each with
// its own work blocks, seldom wait for one another.
constexpr size_t kShards = 16;

struct Shard {
  std::mutex lock;
  std::map<uint64_t, Context*> live;
};

struct Registry {
  Shard shards[kShards];
  std::atomic<uint64_t> next{0};

  Shard& ShardOf(uint64_t id) { return shards[id % kShards]; }
};

Registry& TheRegistry() {
  // Never destroyed: a host may clear its blocks while the process unloads.
  static standin::Immortal<Registry> registry;
  static const bool seeded = [] {
    // Ids start at a random point so that two copies of this module in one process (the
    // variants) do not recognise each other's blocks.
    Registry& r = registry.get();
    uint8_t seed[8];
    gost::SystemRandom(seed, sizeof seed);
    uint64_t start = 0;
    for (uint8_t b : seed) start = (start << 8) | b;
    r.next.store((start >> 8) | 1);  // leave room to count up
    return true;
  }();
  (void)seeded;
  return registry.get();
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLE32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
void PutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t GetLE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

uint8_t* Header(void* work) { return static_cast<uint8_t*>(work) + kHeaderOffset; }

// The id the header names, or 0 when it carries no magic.
uint64_t HeaderId(void* work) {
  const uint8_t* h = Header(work);
  if (GetLE32(h) != kHeaderMagic) return 0;
  return GetLE64(h + 8);
}

// Removes the context from the registry; the caller deletes it outside the lock.
Context* Take(Registry& r, uint64_t id) {
  Shard& shard = r.ShardOf(id);
  std::lock_guard<std::mutex> guard(shard.lock);
  auto it = shard.live.find(id);
  if (it == shard.live.end()) return nullptr;
  Context* c = it->second;
  shard.live.erase(it);
  return c;
}

}  // namespace

int Install(void* work, std::unique_ptr<Context> context) {
  Registry& r = TheRegistry();
  const uint64_t oldId = HeaderId(work);
  Context* old = oldId != 0 ? Take(r, oldId) : nullptr;
  uint64_t id = r.next++;
  {
    Shard& shard = r.ShardOf(id);
    std::lock_guard<std::mutex> guard(shard.lock);
    try {
      shard.live.emplace(id, context.get());
    } catch (const std::bad_alloc&) {
      id = 0;
    }
  }
  delete old;
  std::memset(Header(work), 0, kHeaderSize);
  if (id == 0) return kBadRequest;
  uint8_t* h = Header(work);
  PutLE32(h, kHeaderMagic);
  PutLE32(h + 4, static_cast<uint32_t>(context->kind));
  PutLE64(h + 8, id);
  context.release();  // owned by the registry now
  return kOk;
}

int Find(void* work, Kind kind, Context*& context) {
  context = nullptr;
  const uint64_t id = HeaderId(work);
  if (id == 0) return kNoContext;
  Shard& shard = TheRegistry().ShardOf(id);
  std::lock_guard<std::mutex> guard(shard.lock);
  auto it = shard.live.find(id);
  if (it == shard.live.end()) return kNoContext;
  if (it->second->kind != kind) return kWrongContext;
  context = it->second;
  return kOk;
}

int Release(void* work, Kind kind) {
  const uint64_t id = HeaderId(work);
  Context* taken = nullptr;
  if (id != 0) {
    Shard& shard = TheRegistry().ShardOf(id);
    std::lock_guard<std::mutex> guard(shard.lock);
    auto it = shard.live.find(id);
    if (it != shard.live.end()) {
      if (it->second->kind != kind) return kWrongContext;
      taken = it->second;
      shard.live.erase(it);
    }
  }
  delete taken;
  std::memset(Header(work), 0, kHeaderSize);
  return kOk;
}

bool IsZero(const uint8_t* p, size_t len) {
  uint8_t any = 0;
  for (size_t i = 0; i < len; ++i) any |= p[i];
  return any == 0;
}

bool LessThan(const uint8_t* a, const uint8_t* b, size_t len) {
  for (size_t i = len; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

}  // namespace libcrypt
