#include "standin_memo.h"

#include <cstdlib>
#include <cstring>

namespace standin {

void WipeBytes(void* p, size_t len) {
  if (p == nullptr) return;
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (len--) *v++ = 0;
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

MemoKey::~MemoKey() { WipeBytes(text_.data(), text_.size()); }

MemoKey& MemoKey::Add(const void* data, size_t size) {
  const uint64_t length = size;
  text_.append(reinterpret_cast<const char*>(&length), sizeof length);
  if (size > 0) text_.append(static_cast<const char*>(data), size);
  return *this;
}

MemoKey& MemoKey::Add(gcry_sexp_t s) {
  std::string canonical(s != nullptr ? gcry_sexp_sprint(s, GCRYSEXP_FMT_CANON, nullptr, 0) : 0, '\0');
  const size_t written = canonical.empty() ? 0 : gcry_sexp_sprint(s, GCRYSEXP_FMT_CANON, canonical.data(), canonical.size());
  Add(canonical.data(), written);
  WipeBytes(canonical.data(), canonical.size());
  return *this;
}

Memo::~Memo() {
  std::lock_guard<std::mutex> hold(lock_);
  ForgetAll();
}

Memo* Memo::Process() {
  // Enough for every key and wrapped key a fuzzing run keeps meeting; kept to exit.
  static Memo* memo = [] {
    const char* wanted = std::getenv("ZK_STANDIN_MEMO");
    return wanted != nullptr && std::strcmp(wanted, "0") != 0 ? new Memo(4096) : nullptr;
  }();
  return memo;
}

bool Memo::Find(const MemoKey& key, int& status, Result& result) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto it = entries_.find(key.Text());
  if (it == entries_.end()) return false;
  status = it->second.status;
  result = it->second.result;
  return true;
}

void Memo::Add(const MemoKey& key, int status, const Result& result) {
  std::lock_guard<std::mutex> hold(lock_);
  if (entries_.size() >= capacity_) ForgetAll();
  if (capacity_ > 0) entries_[key.Text()] = Entry{status, result};
}

size_t Memo::Size() {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_.size();
}

void Memo::ForgetAll() {
  for (auto& entry : entries_) {
    WipeBytes(const_cast<char*>(entry.first.data()), entry.first.size());
    WipeBytes(entry.second.result.data(), entry.second.result.size());
  }
  entries_.clear();
}

}  // namespace standin
