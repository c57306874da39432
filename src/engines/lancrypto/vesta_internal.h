// What the parts of the LAN Crypto binding share: the toolkit-call lock, the hash chunk size,
// default file names, little-endian fields, and the owner of a toolkit context.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "engines/lancrypto/vesta_dll.h"
#include "frame/errors.h"
#include "frame/lefields.h"
#include "frame/rwsyncs.h"
#include "frame/secure.h"

namespace zk::lancrypto {

constexpr int32_t kEncryptPiece = 16384;
constexpr int32_t kDecryptPiece = 4096;
constexpr const char* kDefaultSignKey = "sign0000.000";
constexpr const char* kDefaultSignVault = "not512.vlt";
constexpr const char* kDefaultEncryptKey = "priv0000.000";
constexpr const char* kDefaultEncryptVault = "ves512.vlt";

// Serialises the toolkit calls that touch key files, vault files or a vault enumeration.
TCriticalSection& ToolkitCallLock();

template <typename Fn, typename... Args>
int16_t Locked(Fn fn, Args... args) {
  SectionLock hold(ToolkitCallLock());
  return fn(args...);
}

// How many bytes one hash call receives: 32767 until the first encryption, 16384 afterwards.
int32_t HashChunkSize();
void SetHashChunkSize(int32_t size);

inline std::string OrDefault(const std::string& name, const char* fallback) { return name.empty() ? fallback : name; }

// A fixed-width UID field as a string: up to its first zero.
inline std::string FieldText(const uint8_t* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), width));
}

class ContextHandle {
 public:
  ContextHandle(const Ct512Api& api, ContextFamily family) : api_(api), family_(family) {}
  ~ContextHandle() { Release(); }
  ContextHandle(const ContextHandle&) = delete;
  ContextHandle& operator=(const ContextHandle&) = delete;

  void* get() const { return ctx_; }
  uint8_t* bytes() const { return static_cast<uint8_t*>(ctx_); }
  int size() const { return family_ == ContextFamily::Notary ? kSignContextSize : kVestaContextSize; }

  bool Construct() {
    Release();
    ctx_ = family_ == ContextFamily::Notary ? api_.CTN_SignConstructor() : api_.CTV_VestaConstructor();
    rebuilt_ = false;
    return ctx_ != nullptr;
  }
  // A plain block holding a copy of an image.
  void Rebuild(const uint8_t* image) {
    Release();
    plain_.reset(new uint8_t[size()]);
    std::memcpy(plain_.get(), image, size());
    ctx_ = plain_.get();
    rebuilt_ = true;
  }
  // A copy of the context without its password pointer, for the key image.
  void SaveTo(uint8_t* image, size_t room) const {
    ZK_ASSERT(room == static_cast<size_t>(size()), "vesta_dll");
    std::memcpy(image, ctx_, room);
    SetContextPassword(image, family_ == ContextFamily::Notary ? kSignPassword : kVestaPassword, nullptr);
  }
  void Release() {
    if (ctx_ == nullptr) return;
    SetContextPassword(ctx_, family_ == ContextFamily::Notary ? kSignPassword : kVestaPassword, nullptr);
    if (rebuilt_) {
      SecureWipe(plain_.get(), size());
      plain_.reset();
    } else if (family_ == ContextFamily::Notary) {
      api_.CTN_SignDestructor(ctx_);
    } else {
      api_.CTV_VestaDestructor(ctx_);
    }
    ctx_ = nullptr;
  }

 private:
  const Ct512Api& api_;
  ContextFamily family_;
  void* ctx_ = nullptr;
  bool rebuilt_ = false;
  std::unique_ptr<uint8_t[]> plain_;
};

}  // namespace zk::lancrypto
