// The Crypto COM 2.2 binding: "cc.dll" loaded once per process, its 62 functions, and the buffer
// operations the engine is built from (sign, verify, session-key and body records). Key files
// never reach the toolkit as files: the process-wide key-file cache (cc_keycache.h) reads them
// and hands the toolkit their texts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engines/ccom22/cc_api.h"
#include "frame/crypto_engine.h"
#include "frame/secure.h"
#include "frame/zexroot.h"

namespace zk::ccom22 {

// Codes the binding produces itself; every other non-zero value is a toolkit status.
constexpr int32_t kOk = 0;
constexpr int32_t kErrException = 3;
constexpr int32_t kErrBadRecord = 4;
constexpr int32_t kErrNoMemory = 5;
constexpr int32_t kErrHardwareRandom = 7;
constexpr int32_t kErrFileSystem = 8;
constexpr int32_t kErrBufferLength = 104;
constexpr int32_t kErrNullOrLength = 110;
constexpr int32_t kErrNoCertificate = 112;
constexpr int32_t kErrNoSecretKey = 120;
constexpr int32_t kErrNoUID = 121;
constexpr int32_t kErrNoRandomFile = 122;
constexpr int32_t kErrNoCertDir = 123;
constexpr int32_t kErrNoKeyDir = 124;
constexpr int32_t kErrNoSecretDir = 125;
constexpr int32_t kErrRandomFile = 126;
constexpr int32_t kErrCertRecord = -2;
constexpr int32_t kErrRead = -30;

constexpr size_t kSignerBlockSize = 32;       // the signer's UID and its zero, zero-padded
constexpr size_t kMaxToolkitSignature = 512;  // longer toolkit signatures are refused
constexpr size_t kSessionKeySize = 32;
constexpr size_t kVectorSize = 8;
constexpr size_t kMaxUpdate = 65528;  // the toolkit takes 16-bit lengths

// The toolkit's functions, typed by the shared declarations.
struct CcApi {
#define ZK_CC_MEMBER(name, bytes) decltype(&::name) name = nullptr;
  ZK_CC_FUNCTIONS(ZK_CC_MEMBER)
#undef ZK_CC_MEMBER
};

// What every operation is given: the engine's parameters, expanded.
struct TCComSettings {
  std::string UserUID;       // the user the key files are cached for
  std::string UserCertPath;  // the user's own certificate
  std::string CertDir;       // certificate directory, with its trailing "\"
  std::string SecretDir;     // "sec" and "aut" files, with its trailing "\"
  std::string RandomFile;
  std::string Cipher, Hash;  // toolkit names; empty means the default
  bool VerifyValidity = true;
  bool Hardware = false;
  int32_t KeyTimeout = 60;
  int32_t LastOpTimeout = 5;
};

// The Intel hardware random source through CryptoAPI ("advapi32.dll", loaded at run time).
class TIntelProvider : public TCrypto_DLL {
 public:
  TIntelProvider();
  ~TIntelProvider() override;
  TIntelProvider(const TIntelProvider&) = delete;
  TIntelProvider& operator=(const TIntelProvider&) = delete;
  // False when the provider cannot be acquired or the request fails.
  bool Generate(uint8_t* Out, size_t Len);

 private:
  using Acquire = int32_t(CC_CALL*)(uintptr_t*, const char*, const char*, uint32_t, uint32_t);
  using Release = int32_t(CC_CALL*)(uintptr_t, uint32_t);
  using GenRandom = int32_t(CC_CALL*)(uintptr_t, uint32_t, uint8_t*);
  platform::ModuleHandle module_ = nullptr;
  Acquire acquire_ = nullptr;
  Release release_ = nullptr;
  GenRandom generate_ = nullptr;
  uintptr_t provider_ = 0;
  bool acquired_ = false;
};

class TCComDLL : public TCrypto_DLL {
 public:
  TCComDLL();
  ~TCComDLL() override;
  TCComDLL(const TCComDLL&) = delete;
  TCComDLL& operator=(const TCComDLL&) = delete;

  void SetPasswordRequestFunc(TPasswordRequestFunc Func) { passwordRequest_ = Func; }
  // The text of the last exception caught around a toolkit call.
  const std::string& LastExceptionText() const { return lastException_; }

  // Makes sure the user's key files are in the cache (time-outs, reload, random file).
  int32_t LoadUserKeys(const TCComSettings& S);
  // Signer block (32 bytes) followed by the toolkit's signature.
  int32_t SignBuffer(const TCComSettings& S, const uint8_t* Data, size_t Len, std::vector<uint8_t>& Signature);
  // SignerUID is set whenever the signer block could be read.
  int32_t VerifyBuffer(const TCComSettings& S, const uint8_t* Data, size_t Len, const uint8_t* Signature,
                       size_t SignatureLen, std::string& SignerUID);
  // The session-key record of Data for one recipient.
  int32_t EncryptForUID(const TCComSettings& S, const std::string& Recipient, const uint8_t* Data, size_t Len,
                        std::vector<uint8_t>& Record);
  int32_t DecryptForUser(const TCComSettings& S, const uint8_t* Record, size_t Len, SecureBytes& Plain);
  // The body record of Data under a fresh session key, which Key receives.
  int32_t EncryptBody(const TCComSettings& S, const uint8_t* Data, size_t Len, std::vector<uint8_t>& Record,
                      Secret<kSessionKeySize>& Key);
  int32_t DecryptBody(const TCComSettings& S, const uint8_t* Record, size_t Len, const uint8_t* Key,
                      SecureBytes& Plain);
  // The owner UID of a certificate file; empty when it names none.
  std::string ReadCertificateUID(const std::string& File);

  // Runs a binding operation: an exception becomes 3 (its text kept) or 5 (memory).
  int32_t Guarded(const std::function<int32_t()>& body);

 // Seeds the toolkit's generator for one operation; FreeRandom must follow a success.
  int32_t InitRandom(bool Hardware);
  void FreeRandom();
  // The toolkit writes its generator's state to the random file: 0 or 126.
  int32_t WriteRandomFile(const std::string& File);

 private:
  int32_t RefreshRandom(bool Hardware);
  int32_t GetRandomBytes(bool Hardware, uint8_t* Out, size_t Len);
  // A toolkit context for the user (or none when UID is empty) with the algorithms set.
  int32_t CreateContext(const std::string& UID, const TCComSettings& S, const std::string& Cipher, HCCCTX& Ctx);
  // The certificate record of a cached certificate: 0, -2, or its validity status when checked.
  int32_t CheckCertificate(HCCCTX Ctx, const char* Image, bool Verify, int32_t& KeyNumber);
  // Runs the cipher over In into Out (updates of at most kMaxUpdate bytes, then final).
  int32_t Crypt(HCCCTX Ctx, const uint8_t* Key, int32_t Direction, uint8_t* Vector, const uint8_t* In, size_t Len,
                SecureBytes& Out);

  const CcApi* api_ = nullptr;
  std::unique_ptr<TIntelProvider> intel_;
  std::string lastException_;
  TPasswordRequestFunc passwordRequest_ = nullptr;
};

// The process-wide table of the toolkit's functions, loading "cc.dll" on first need (a failed
// load is tried again later); null while the library cannot be loaded. Missing is set when a
// function is absent.
const CcApi* ToolkitApi(bool& Missing);

// Writes the random file back when a seeding happened, forgets the pool and every cached file.
void FlushKeyCache(TCComDLL& Binding);

}  // namespace zk::ccom22
