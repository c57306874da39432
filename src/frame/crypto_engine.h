// The abstract engine: the virtual operations the exports call (in a fixed order), named
// parameters, the stored text of the last exception, the host callbacks and the root path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "frame/rwsyncs.h"
#include "zk_mint.h"

namespace zk {

// A string guarded by a reader-writer lock: the last exception text of an engine.
class TSyncExceptStr {
 public:
  std::string GetText();
  void SetText(const std::string& text);

 private:
  TRWCriticalSection lock_;
  std::string text_;
};

using TPasswordRequestFunc = ZkPasswordRequestFunc;
using TTMRequestFunc = ZkTMRequestFunc;

class TCryptoEngine {
 public:
  TCryptoEngine();
  virtual ~TCryptoEngine();
  TCryptoEngine(const TCryptoEngine&) = delete;
  TCryptoEngine& operator=(const TCryptoEngine&) = delete;

  // Slots in the order the exports call them.
  virtual int32_t ApplySettings();
  virtual void SetPasswordRequestFunc(TPasswordRequestFunc Func);
  virtual void GetCryptoEngineType(char* TypeName) = 0;
  virtual int32_t GetMaxEncodeAddition();
  virtual int32_t GetMaxSignatureLength();
  virtual int32_t GetMaxUIDLength();
  virtual int32_t GetMaxCryptoParamNameLength();
  virtual int32_t GetMaxCryptoParamValueLength();
  virtual int32_t GetMaxErrorStringLength();
  virtual int32_t GetCryptoParamNumber();
  virtual void GetCryptoParamName(int32_t Index, char* Name);
  virtual void GetCryptoParamValue(int32_t Index, char* Value);
  virtual int32_t SetCryptoParamValue(int32_t Index, const char* Value);
  virtual int32_t GetEncodeUIDBySignUID(const char* SignUID, char* EncodeUID) = 0;
  virtual int32_t GetCurrentUID(char* UID) = 0;
  virtual void GetCryptoErrorString(int32_t ErrorCode, char* ErrorText);
  virtual int32_t EncodeData(uint8_t* Data, int32_t* DataLen, const char* RecipientUIDs) = 0;
  virtual int32_t DecodeData(uint8_t* Data, int32_t* DataLen, char* SenderUID) = 0;
  virtual int32_t SignData(const uint8_t* Data, int32_t DataLen, uint8_t* Signature, int32_t* SignatureLen,
                           const char* SignUID) = 0;
  virtual int32_t VerifyData(const uint8_t* Data, int32_t DataLen, const uint8_t* Signature, int32_t SignatureLen,
                             char* SignerUID) = 0;
  virtual int32_t IncludePublicKey(const char* FileName);
  virtual void ClearCash();
  virtual int32_t UpdateCertificateCash(const char* UID);
  virtual int32_t RemoveCertificate(const char* UID);
  virtual int32_t IncludeCRL(const char* FileName);

  // Copies Src with its NUL into Dst, writing at most MaxLen bytes (the last one always a NUL).
  static bool CopyPCharLimited(const char* Src, char* Dst, int32_t MaxLen);
  // A path beginning with "%ZEXRoot%" (any case) becomes RootPath + rest, wholly upper-cased.
  std::string ExpandRootMacro(const std::string& Path) const;
  // ExpandRootMacro, then IncludeDirDelimiter.
  std::string ExpandRootDir(const std::string& Path) const;
  void SetEngineRootPath(const std::string& Path);
  const std::string& RootPath() const { return RootPath_; }

  TPasswordRequestFunc PasswordRequestFunc = nullptr;
  TTMRequestFunc TMRequestFunc = nullptr;

 protected:
  // Appends one named parameter with its default; only constructors call it.
  void AddParam(const std::string& name, const std::string& defaultValue);
  // The current value by 0-based index ("" when out of range).
  std::string ParamValue(size_t index) const;
  size_t ParamCount() const { return ParamNames_.size(); }

  // Runs an operation body; an exception is stored as "<prefix><ClassName>: <message>" and
  // exceptionCode is returned. prefix is e.g. "TOSSLEngine.SignData: ".
  int32_t Capture(const char* prefix, int32_t exceptionCode, const std::function<int32_t()>& body);
  // Writes the default "CRYPTO ENGINE ERROR : <code>" text.
  void DefaultErrorString(int32_t ErrorCode, char* ErrorText);
  // Zero-fills the caller's error buffer and writes text cut to GetMaxErrorStringLength - 1 bytes.
  void WriteErrorText(const std::string& text, char* ErrorText);

  TSyncExceptStr ErrorText;
  std::vector<std::string> ParamNames_;
  std::vector<std::string> ParamValues_;

 private:
  std::string RootPath_;
};

}  // namespace zk
