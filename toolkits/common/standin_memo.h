// Results a stand-in's expensive arithmetic (RSA private-key operations, signature checks) already
// gave, remembered by the exact bytes they came from. Only when the process asks for it
// (ZK_STANDIN_MEMO set, as the fuzz targets do): a fuzzer sends one recipient's key and one
// wrapped content key with almost every input, and each private-key operation costs milliseconds
// in libgcrypt. Tests, benchmarks and the demo compute every answer.
//
// Only the stand-in, which plays an outside toolkit, skips arithmetic it has already done for the
// same bytes; the library's own code still runs in full for every input. A key holds every byte
// of every part, so an input one bit away is another key and what a caller sees does not change.
#pragma once

#include <gcrypt.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace standin {

// A memo key: the operation's name, then each part with its length first, so that no two lists
// of parts give the same key.
class MemoKey {
 public:
  explicit MemoKey(const char* what) { Add(what, std::char_traits<char>::length(what)); }
  ~MemoKey();
  MemoKey& Add(const void* data, size_t size);
  template <typename Container>
  MemoKey& Add(const Container& c) {
    return Add(c.data(), c.size() * sizeof(c[0]));
  }
  // A libgcrypt key or value, by its canonical encoding.
  MemoKey& Add(gcry_sexp_t s);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// Bounded (forgets everything once full), safe to share between threads; keys and results are
// wiped when forgotten, since they hold private keys and content keys.
class Memo {
 public:
  using Result = std::vector<uint8_t>;
  explicit Memo(size_t capacity) : capacity_(capacity) {}
  ~Memo();
  Memo(const Memo&) = delete;
  Memo& operator=(const Memo&) = delete;

  // The process's memo when ZK_STANDIN_MEMO is set (to anything but "0"), else nullptr.
  static Memo* Process();

  bool Find(const MemoKey& key, int& status, Result& result);
  void Add(const MemoKey& key, int status, const Result& result);
  size_t Size();

 private:
  struct Entry {
    int status;
    Result result;
  };
  void ForgetAll();  // with lock_ held

  const size_t capacity_;
  std::mutex lock_;
  std::unordered_map<std::string, Entry> entries_;
};

// The memo's status and result for `key` when it has them, else those of compute(result),
// remembered.
template <typename Compute>
int Remembered(Memo& memo, const MemoKey& key, Memo::Result& result, Compute compute) {
  int status = 0;
  if (memo.Find(key, status, result)) return status;
  status = compute(result);
  memo.Add(key, status, result);
  return status;
}

// Overwrites memory in a way the compiler keeps.
void WipeBytes(void* p, size_t len);

}  // namespace standin
