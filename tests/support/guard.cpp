#include "support/guard.h"

#include <cstring>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zk::suite {

namespace {

size_t PageSize() {
#if defined(_WIN32)
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
}

// Maps `length` bytes read-write and makes the last page inaccessible.
void* MapWithGuard(size_t length, size_t page) {
#if defined(_WIN32)
  void* base = VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  DWORD old = 0;
  if (base == nullptr || !VirtualProtect(static_cast<char*>(base) + length - page, page, PAGE_NOACCESS, &old))
    throw std::bad_alloc();
#else
  void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED || mprotect(static_cast<char*>(base) + length - page, page, PROT_NONE) != 0)
    throw std::bad_alloc();
#endif
  return base;
}

void Unmap(void* base, size_t length) {
#if defined(_WIN32)
  (void)length;
  VirtualFree(base, 0, MEM_RELEASE);
#else
  munmap(base, length);
#endif
}

}  // namespace

GuardedBuffer::GuardedBuffer(size_t size, uint8_t fill) : size_(size) {
  const size_t page = PageSize();
  const size_t usable = (size + page - 1) / page * page;
  mapped_ = usable + page;
  base_ = MapWithGuard(mapped_, page);
  data_ = static_cast<uint8_t*>(base_) + (usable - size);
  std::memset(data_, fill, size);
}

GuardedBuffer::GuardedBuffer(const std::vector<uint8_t>& bytes) : GuardedBuffer(bytes.size()) {
  if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
}

GuardedBuffer::~GuardedBuffer() { Unmap(base_, mapped_); }

std::string GuardedBuffer::Str(bool* terminated) const {
  const void* nul = size_ == 0 ? nullptr : std::memchr(data_, 0, size_);
  if (terminated != nullptr) *terminated = nul != nullptr;
  if (nul == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(data_));
}

}  // namespace zk::suite
