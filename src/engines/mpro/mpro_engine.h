// The Message-PRO engines: "Message-PRO 1.1" (plug-in kind 0), "M-Pro v1.34 (GOST PSE)" (kind 1)
// and "M-Pro v2.x" (kind 2). They hold the plug-in's parameter values, turn UIDs into certificate
// files, keep the certificate and CRL directories, and forward everything cryptographic.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engines/mpro/mpro_dll.h"
#include "frame/crypto_engine.h"

namespace zk {

class TMPro1CryptoEngine : public TCryptoEngine {
 public:
  TMPro1CryptoEngine() : TMPro1CryptoEngine(0) {}
  ~TMPro1CryptoEngine() override;

  void GetCryptoEngineType(char* TypeName) override;
  int32_t GetMaxEncodeAddition() override;
  int32_t GetMaxSignatureLength() override;
  int32_t GetMaxUIDLength() override;
  int32_t GetMaxCryptoParamNameLength() override;
  int32_t GetMaxCryptoParamValueLength() override;
  int32_t GetMaxErrorStringLength() override;
  int32_t GetCryptoParamNumber() override;
  void GetCryptoParamName(int32_t Index, char* Name) override;
  int32_t SetCryptoParamValue(int32_t Index, const char* Value) override;
  int32_t GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) override;
  int32_t GetCurrentUID(char* UID) override;
  void GetCryptoErrorString(int32_t ErrorCode, char* ErrorText) override;
  int32_t EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) override;
  int32_t DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) override;
  int32_t SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                   const char* SignUID) override;
  int32_t VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                     char* SignerUID) override;
  int32_t IncludePublicKey(const char* FileName) override;
  void ClearCash() override;
  int32_t UpdateCertificateCash(const char* UID) override;
  int32_t RemoveCertificate(const char* UID) override;
  int32_t IncludeCRL(const char* FileName) override;

  // The value of the subject attribute Name in a one-line subject ("/C=RU/CN=alice", "\" escapes
  // "/" and itself inside values); false when it is missing or appears more than once.
  static bool SubjectAttribute(const std::string& Subject, const std::string& Name, std::string& Value);

 protected:
  explicit TMPro1CryptoEngine(int Kind);

 private:
  // 0, or -127 / -128 (kept: the same answer recurs), or -100.
  int32_t GetCryptoAPI();
  bool Bound() const { return binding_ && binding_->LibLoaded && binding_->FunctionsPresent; }
  std::string Value(size_t Position) const;  // 1-based, trimmed
  std::string Location() const;              // "CN" when empty
  // Shared rather than copied: every call hands the list over.
  std::shared_ptr<const std::vector<std::string>> Values() const;
  std::string CertDir() const;
  int32_t WorkSize() const;  // bytes of a buffer for a subject line or a certificate image
  // Buffers for the plug-in's answers, handed back when a call is done and given to the next:
  // 20 KiB allocated and released for every call cost more than a decoding's own work. A few
  // are kept, all of the size last asked for.
  struct AnswerPool {
    std::mutex lock;
    size_t size = 0;
    std::vector<std::unique_ptr<char[]>> free;
  };
  struct AnswerReturn {
    AnswerPool* pool;
    size_t size;
    void operator()(char* buffer) const;
  };
  using Answer = std::unique_ptr<char[], AnswerReturn>;
  // A buffer of WorkSize() bytes for a plug-in's text answer. Not cleared (20 KiB cleared per call
  // cost 2% of a verify): a zero at each end keeps an unwritten or unterminated answer inside it.
  Answer AnswerBuffer() const;
  // The plug-in's identity answer reduced to the UID (the location attribute unless "SN").
  int32_t AnswerToUID(const std::string& Answer, std::string& UID) const;
  int32_t ReadSubject(const std::string& File, std::string& Subject);
  int32_t CertFileOf(const std::string& UID, std::string& File) const;
  int32_t ResolveUID(const std::string& UID, std::string& File);
  int32_t FetchCurrentUID(std::string& UID);
  int32_t LoadCertificateFile(const std::string& File);
  std::string CrlDir() const;

  int kind_;
  std::unique_ptr<mpro::TMProDLL> binding_;
  // The plug-in's parameter list of the last call, kept while the parameters are unchanged and
  // every path in it named an existing file or directory exactly: mapping those paths again would
  // give the same names, at a file-system look-up each per call.
  struct ValuesCache {
    std::mutex lock;
    std::vector<std::string> params;
    std::shared_ptr<const std::vector<std::string>> values;
  };
  mutable ValuesCache valuesCache_;
  mutable AnswerPool answers_;
};

class TMProWinCryptoEngine : public TMPro1CryptoEngine {
 public:
  TMProWinCryptoEngine() : TMProWinCryptoEngine(1) {}

 protected:
  explicit TMProWinCryptoEngine(int Kind);
};

class TMPro2xCryptoEngine : public TMProWinCryptoEngine {
 public:
  TMPro2xCryptoEngine();
};

}  // namespace zk
