// The Validata binding: "cpki1.dll" loaded once per process, one toolkit context per binding
// (re-initialised when its time-outs run out), and the memory operations the engine is built
// from. Three process-wide locks: the check section around the context check, the context lock
// (write side: re-initialisation; read side: every operation) and the operation lock, held
// around toolkit work unless in server mode or with the extended (thread-safe) toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engines/validata/vldt_api.h"
#include "frame/crypto_engine.h"
#include "frame/keytimeouts.h"
#include "frame/zexroot.h"

namespace zk::validata {

constexpr int32_t kErrNotSupported = -1;
constexpr int32_t kErrNoOwnCert = -2;
constexpr int32_t kErrSignerCount = -3;
constexpr int32_t kErrNoRecipients = -4;
constexpr int32_t kErrCertChoice = -5;
constexpr int32_t kErrCertLoad = -6;
constexpr int32_t kErrNoMemory = -7;
constexpr int32_t kErrCertFormat = -8;
constexpr int32_t kErrCrlFormat = -9;
constexpr int32_t kErrException = -10;
constexpr int32_t kErrArguments = -11;
constexpr int32_t kErrNoUID = -13;
constexpr int32_t kErrNoCertFile = -14;
constexpr int32_t kErrNoCrlFile = -15;
constexpr int32_t kErrCrlRead = -16;
constexpr int32_t kErrEku = -19;
constexpr int32_t kErrNoParam = -20;
constexpr int32_t kErrNoLibrary = -21;
constexpr int32_t kErrMissing = -22;
constexpr int32_t kErrTooLarge = -25;

constexpr size_t kMaxReport = 4095;  // verification reports: characters before their NUL

// The engine's parameters as every operation passes them.
struct TValidataSettings {
  std::string Profile, Pse, Store, Ldap, ServerEku;
  int32_t RequestTimeout = 60;
  int32_t LastOpTimeout = 5;
  bool Server = false;
  std::string UidLocation = "CN";
  std::string SignEku;
  std::string CashId;
  uint32_t Flags = 0;
};
// Bindings are shared by settings with equal keys: every part that reaches the toolkit context,
// kept apart by separators and compared exactly.
std::string SettingsKey(const TValidataSettings& S);

struct VcertApi {
#define ZK_VCERT_MEMBER(name, ret, args) ret(VCERT_CALL* name) args = nullptr;
  ZK_VCERT_USED(ZK_VCERT_MEMBER)
#undef ZK_VCERT_MEMBER
};

// Verification results by mode.
enum class VerifyMode { Uid = 0, Show = 1, Description = 2, Pem = 3 };

class TValidata : public TCrypto_DLL {
 public:
  TValidata();
  ~TValidata() override;  // uninitialises the context
  TValidata(const TValidata&) = delete;
  TValidata& operator=(const TValidata&) = delete;

  bool Extended() const { return extended_; }
  void SetPasswordRequestFunc(TPasswordRequestFunc Func) { passwordRequest_ = Func; }

  int32_t GetOwnUID(const TValidataSettings& S, std::string& UID);
  int32_t SignBuffer(const TValidataSettings& S, const uint8_t* Data, size_t Len, std::vector<uint8_t>& Signature);
  int32_t VerifyBuffer(const TValidataSettings& S, VerifyMode Mode, const uint8_t* Data, size_t Len,
                       const uint8_t* Signature, size_t SignatureLen, std::string& Result);
  // Data[0, Len) encrypted; the envelope replaces it in Data only when it fits Capacity bytes
  // (else kErrTooLarge, Data untouched), and OutLen receives its length.
  int32_t EncryptForRecipients(const TValidataSettings& S, const std::string& Recipients, uint8_t* Data, size_t Len,
                               size_t Capacity, size_t& OutLen);
  // The envelope Data[0, Len) decrypted; the plain data replace it in Data (they are never longer:
  // else kErrTooLarge, Data untouched), and OutLen receives their length.
  int32_t DecryptMessage(const TValidataSettings& S, uint8_t* Data, size_t Len, size_t& OutLen);
  int32_t StoreCertificate(const TValidataSettings& S, const uint8_t* Bytes, size_t Len);
  int32_t StoreCRL(const TValidataSettings& S, const uint8_t* Bytes, size_t Len);
  int32_t ImportEnvironment(const TValidataSettings& S, const std::string& File);
  void GetErrorText(int32_t Code, char* Buffer, uint32_t Size, bool ServerMode);

  static std::string DescribeCertificate(const VCERT_CERT& Cert);
  static std::string CertificatePem(const VCERT_CERT& Cert);

 private:
  // Keeps the context (re-initialising it when due), then runs Operation under the read side of
  // the context lock and, where needed, the operation lock.
  int32_t Run(const TValidataSettings& S, const std::function<int32_t()>& Operation);
  int32_t Initialize(const TValidataSettings& S);
  int32_t FindOwn(const TValidataSettings& S, VCERT_FIND_RESULT*& Found);
  int32_t FindByUID(const TValidataSettings& S, const std::string& UID, const VCERT_CERT* Own,
                    VCERT_FIND_RESULT*& Found);
  int32_t UidOf(const TValidataSettings& S, const VCERT_CERT& Cert, std::string& UID) const;
  int32_t StoreArmoured(const TValidataSettings& S, bool Crl, const uint8_t* Bytes, size_t Len);

  const VcertApi* api_ = nullptr;
  bool extended_ = false;
  uint32_t ctx_ = 0;
  TKeyTimeouts timeouts_;
  TPasswordRequestFunc passwordRequest_ = nullptr;  // kept; the toolkit is never asked for one
};

// True for version ms.ls at 3.2 or later, or 3.1 with build (low word of ls) 150 or more.
bool IsExtendedVersion(uint32_t Ms, uint32_t Ls);

}  // namespace zk::validata
