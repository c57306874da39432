// The plug-in's exported calls: contexts with their parameter values and private key, and the
// operations on them. The kind (0 "mplug.dll", 1 "mplugf.dll", 2 "mplug2.dll") is fixed per build.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include "engines/mpro/mplug_api.h"
#include "mplug_internal.h"
#include "mplug_standin.h"

#ifndef MPLUG_KIND
#define MPLUG_KIND 0
#endif

namespace mplug {
namespace {

constexpr int32_t kParamCount = 25 + MPLUG_KIND;
constexpr int32_t kMaxUID = 1024;
constexpr int32_t kMaxSignature = 4096;
constexpr int32_t kMaxEncodeAddition = 65536;
constexpr int32_t kMaxCertificate = 16384;
constexpr int32_t kMaxCertInfo = 4096;
constexpr int32_t kMaxErrorString = 512;
constexpr int32_t kMaxParamName = 64;
constexpr int32_t kMaxParamValue = 1024;

// Parameter positions (0-based) with a role inside the plug-in.
constexpr int kOwnCert = 0, kCertDir = 1, kWorkDir = 2, kCipher = 3, kSignAlgorithm = 4, kKeyLength = 5,
              kPse = 6, kTrustedCa = 7, kLocation = 19;
constexpr int kCrlDir = MPLUG_KIND == 0 ? 24 : 25;

const char* const kParamNames[27] = {
    "Own certificate", "Certificate directory", "Work directory", "Cipher", "Signature algorithm",
    "Key length", "PSE file", "Trusted CA certificate", "Path 9", "Path 10", "Country", "Option 12",
    "Option 13", "Option 14", "Option 15", "Option 16", "Option 17", "Path 18", "Default recipients",
    "UID location", "Option 21", "Context time-out", "Path 23", "Path 24", "CRL directory",
    "PSE CRL directory", "Option 27"};

struct Context {
  std::mutex lock;
  std::vector<std::string> params = std::vector<std::string>(kParamCount);
  SharedKey key;  // loaded by KeysRenewal
  gcry_sexp_t Key() const { return key ? key->get() : nullptr; }
  EnvelopeBuffers buffers;
  Cert own;
  bool hasKey = false;
};

struct Contexts {
  std::mutex lock;
  std::map<MPHANDLE, std::shared_ptr<Context>> table;
  MPHANDLE next = 1;
};

Contexts& All() {
  static standin::Immortal<Contexts> all;
  return all.get();
}

std::shared_ptr<Context> Find(MPHANDLE h) {
  Contexts& all = All();
  std::lock_guard<std::mutex> hold(all.lock);
  auto it = all.table.find(h);
  return it == all.table.end() ? nullptr : it->second;
}

// The algorithm values are the toolkit's own names; no other value is accepted.
bool AlgorithmsValid(const Context& c) {
  return c.params[kCipher] == "RUS-GAMMAR" && c.params[kSignAlgorithm] == "R3410-R3411" && c.params[kKeyLength] == "1024";
}

int32_t CheckTrust(const Context& c, const Cert& cert, bool ignoreTime) {
  if (!ignoreTime && cert.NotAfter != 0 && cert.NotAfter < int64_t(std::time(nullptr))) return kExpired;
  const std::string& caFile = c.params[kTrustedCa];
  if (caFile.empty()) return kOk;
  Cert ca;
  if (ReadCert(caFile, ca) != kOk) return kUntrusted;
  if (!CertSignedBy(cert, ca)) return kUntrusted;
  // Revocation: the CRL file of the CA in the CRL directory, when there is one.
  std::string dir = c.params[kCrlDir];
  if (dir.empty() && !c.params[kWorkDir].empty()) dir = c.params[kWorkDir] + "/CRL";
  return dir.empty() ? kOk : CheckRevocation(dir, ca, cert);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

int32_t WriteText(const std::string& text, char* out, int32_t limit) {
  if (out == nullptr) return kBadParameters;
  if (int32_t(text.size()) >= limit) return kTooLong;
  std::memcpy(out, text.c_str(), text.size() + 1);
  return kOk;
}

int32_t Verify(MPHANDLE h, const uint8_t* Data, int32_t* DataLen, const uint8_t* Signature, int32_t SignatureLen,
               char* Signer, bool ignoreTime) {
  auto c = Find(h);
  if (!c) return kUnknownContext;
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0 || Signature == nullptr || SignatureLen < 8 ||
      Signer == nullptr)
    return kBadParameters;
  std::lock_guard<std::mutex> hold(c->lock);
  Cert signer;
  if (int32_t r = CmsVerify(Signature, size_t(SignatureLen), Data, size_t(*DataLen), signer)) return r;
  const int32_t trust = CheckTrust(*c, signer, ignoreTime);
  if (trust != kOk) return trust;
  return WriteText(signer.Subject, Signer, kMaxUID);
}

}  // namespace
}  // namespace mplug

using namespace mplug;

extern "C" {

int32_t MP_CALL GetMaxEncodeAddition() { return kMaxEncodeAddition; }
int32_t MP_CALL GetMaxSignatureLength() { return kMaxSignature; }
int32_t MP_CALL GetMaxUIDLength() { return kMaxUID; }
int32_t MP_CALL GetMaxPasswordLength() { return 64; }
int32_t MP_CALL GetMaxCryptoParamNameLength() { return kMaxParamName; }
int32_t MP_CALL GetMaxCryptoParamValueLength() { return kMaxParamValue; }
int32_t MP_CALL GetMaxErrorStringLength() { return kMaxErrorString; }
int32_t MP_CALL GetMaxFileNameLength() { return 1024; }
int32_t MP_CALL GetMaxCertificateLength() { return kMaxCertificate; }
int32_t MP_CALL GetMaxCertInfoLength() { return kMaxCertInfo; }
int32_t MP_CALL GetCryptoParamNumber() { return kParamCount; }

int32_t MP_CALL GetCryptoParamName(int32_t Index, char* Name) {
  if (Index < 0 || Index >= kParamCount || Name == nullptr) return kBadParameters;
  return WriteText(kParamNames[Index], Name, kMaxParamName);
}

int32_t MP_CALL GetCryptoErrorString(int32_t Code, char* Text) {
  static const std::map<int32_t, const char*> texts = {
      {kBadFormat, "Damaged certificate, key, CRL, signature or envelope"},
      {kBadSignature, "The signature does not match the data"},
      {kUntrusted, "The certificate is not issued by the trusted authority"},
      {kNotRecipient, "The envelope is not addressed to this user"},
      {kFileNotFound, "Certificate or CRL file not found"},
      {kTooLong, "The result does not fit its buffer"},
      {kNotSupported, "Not supported by this plug-in"},
      {kExpired, "The certificate has expired"},
      {kRevoked, "The certificate is revoked"},
      {kCryptoFailure, "Cryptographic failure"},
      {kUnknownContext, "Unknown plug-in context"},
      {-105, "Certificate check failed"},
      {-106, "The certificate does not belong to the UID"}};
  auto it = texts.find(Code);
  return WriteText(it == texts.end() ? "Unknown plug-in error " + std::to_string(Code) : it->second, Text,
                   kMaxErrorString);
}

MPHANDLE MP_CALL InitCrypto() {
  if (standin::Hook("InitCrypto") != 0) return 0;
  InitLibrary();
  Contexts& all = All();
  std::lock_guard<std::mutex> hold(all.lock);
  const MPHANDLE h = all.next++;
  all.table[h] = std::make_shared<Context>();
  return h;
}

int32_t MP_CALL DoneCrypto(MPHANDLE Ctx) {
  if (int32_t r = standin::Hook("DoneCrypto")) return r;
  Contexts& all = All();
  std::lock_guard<std::mutex> hold(all.lock);
  return all.table.erase(Ctx) == 1 ? kOk : kUnknownContext;
}

int32_t MP_CALL SetCryptoParamValue(MPHANDLE Ctx, int32_t Index, const char* Value) {
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (Index < 0 || Index >= kParamCount || Value == nullptr) return kBadParameters;
  std::lock_guard<std::mutex> hold(c->lock);
  c->params[size_t(Index)] = Value;
  return kOk;
}

int32_t MP_CALL GetCryptoParamValue(MPHANDLE Ctx, int32_t Index, char* Value) {
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (Index < 0 || Index >= kParamCount) return kBadParameters;
  std::lock_guard<std::mutex> hold(c->lock);
  return WriteText(c->params[size_t(Index)], Value, kMaxParamValue);
}

int32_t MP_CALL KeysRenewal(MPHANDLE Ctx) {
  if (int32_t r = standin::Hook("KeysRenewal")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  std::lock_guard<std::mutex> hold(c->lock);
  c->hasKey = false;
  if (ReadCert(c->params[kOwnCert], c->own) != kOk) return kNoPrivateKey;
  if (ReadPairedKey(c->params[kPse], c->own.KeyText, c->key) != kOk) return kNoPrivateKey;
  c->hasKey = true;
  return kOk;
}

int32_t MP_CALL GetCurrentUID(MPHANDLE Ctx, char* UID) {
  if (int32_t r = standin::Hook("GetCurrentUID")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  std::lock_guard<std::mutex> hold(c->lock);
  Cert cert;
  if (int32_t r = ReadCert(c->params[kOwnCert], cert)) return r;
  return WriteText(c->params[kLocation] == "SN" ? BaseName(c->params[kOwnCert]) : cert.Subject, UID, kMaxUID);
}

int32_t MP_CALL SignData(MPHANDLE Ctx, const uint8_t* Data, int32_t DataLen, uint8_t* Signature,
                         int32_t* SignatureLen, const char* CertFile) {
  if (int32_t r = standin::Hook("SignData")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (Data == nullptr || DataLen < 0 || Signature == nullptr || SignatureLen == nullptr) return kBadParameters;
  std::lock_guard<std::mutex> hold(c->lock);
  if (!AlgorithmsValid(*c)) return kBadParameters;
  if (!c->hasKey) return kNoPrivateKey;
  Cert cert = c->own;
  if (CertFile != nullptr && CertFile[0] != '\0') {
    if (ReadCert(CertFile, cert) != kOk) return kNoSignContext;
    if (!SameKey(c->Key(), cert.KeyText)) return kNoSignContext;
  }
  Bytes out;
  if (int32_t r = CmsSign(cert, c->Key(), Data, size_t(DataLen), out)) return r;
  if (out.size() > size_t(kMaxSignature)) return kTooLong;
  std::memcpy(Signature, out.data(), out.size());
  *SignatureLen = int32_t(out.size());
  return kOk;
}

int32_t MP_CALL VerifyData(MPHANDLE Ctx, const uint8_t* Data, int32_t* DataLen, const uint8_t* Signature,
                           int32_t SignatureLen, char* Signer) {
  if (int32_t r = standin::Hook("VerifyData")) return r;
  return Verify(Ctx, Data, DataLen, Signature, SignatureLen, Signer, false);
}

int32_t MP_CALL VerifyDataIgnoreTime(MPHANDLE Ctx, const uint8_t* Data, int32_t* DataLen,
                                     const uint8_t* Signature, int32_t SignatureLen, char* Signer) {
  if (int32_t r = standin::Hook("VerifyDataIgnoreTime")) return r;
  return Verify(Ctx, Data, DataLen, Signature, SignatureLen, Signer, true);
}

// Envelope: CMS EnvelopedData for the listed certificates (mplug_envelope.cpp); the result must
// fit in the data's place with GetMaxEncodeAddition bytes more.
int32_t MP_CALL EncodeData(MPHANDLE Ctx, uint8_t* Data, int32_t* DataLen, const char* Files) {
  if (int32_t r = standin::Hook("EncodeData")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (Data == nullptr || DataLen == nullptr || *DataLen < 0 || Files == nullptr) return kBadParameters;
  std::lock_guard<std::mutex> hold(c->lock);
  if (!AlgorithmsValid(*c)) return kBadParameters;
  std::vector<Cert> recipients;
  const std::string list = Files;
  for (size_t at = 0; at <= list.size();) {
    size_t end = list.find(';', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) {
      Cert cert;
      if (int32_t r = ReadCert(list.substr(at, end - at), cert)) return r;
      if (int32_t r = CheckTrust(*c, cert, false)) return r;
      recipients.push_back(std::move(cert));
    }
    at = end + 1;
  }
  if (recipients.empty()) return kBadParameters;
  const size_t len = size_t(*DataLen);
  size_t sealed = 0;
  if (int32_t r = CmsEnvelope(recipients, Data, len, len + size_t(kMaxEncodeAddition), c->buffers, sealed)) return r;
  *DataLen = int32_t(sealed);
  return kOk;
}

int32_t MP_CALL DecodeData(MPHANDLE Ctx, uint8_t* Data, int32_t* DataLen, char* Sender) {
  if (int32_t r = standin::Hook("DecodeData")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (Data == nullptr || DataLen == nullptr || *DataLen < 1) return kBadParameters;
  std::lock_guard<std::mutex> hold(c->lock);
  if (!c->hasKey) return kNoPrivateKey;
  size_t plain = 0;
  if (int32_t r = CmsOpenEnvelope(c->own, c->Key(), Data, size_t(*DataLen), c->buffers, plain)) return r;
  *DataLen = int32_t(plain);
  if (Sender != nullptr) Sender[0] = '\0';
  return kOk;
}

int32_t MP_CALL GetCertificateByUID(MPHANDLE Ctx, const char* CertFile, uint8_t* Buffer, int32_t* Len) {
  if (int32_t r = standin::Hook("GetCertificateByUID")) return r;
  if (!Find(Ctx)) return kUnknownContext;
  if (CertFile == nullptr || Buffer == nullptr || Len == nullptr || *Len < 0) return kBadParameters;
  Bytes bytes;
  if (!ReadWholeFile(CertFile, bytes, size_t(*Len))) return kFileNotFound;
  std::memcpy(Buffer, bytes.data(), bytes.size());
  *Len = int32_t(bytes.size());
  return kOk;
}

int32_t MP_CALL LoadCertificate(MPHANDLE Ctx, const uint8_t* Buffer, int32_t Len) {
  if (int32_t r = standin::Hook("LoadCertificate")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (Buffer == nullptr || Len < 0) return kBadParameters;
  Cert cert;
  if (int32_t r = ParseCert(std::string(reinterpret_cast<const char*>(Buffer), size_t(Len)), cert)) return r;
  std::lock_guard<std::mutex> hold(c->lock);
  return CheckTrust(*c, cert, false);
}

int32_t MP_CALL GetCRLIssuerName(MPHANDLE Ctx, const char* CrlFile, char* Issuer) {
  if (int32_t r = standin::Hook("GetCRLIssuerName")) return r;
  auto c = Find(Ctx);
  if (!c) return kUnknownContext;
  if (CrlFile == nullptr) return kBadParameters;
  Crl crl;
  if (int32_t r = ReadCrl(CrlFile, crl)) return r;
  std::lock_guard<std::mutex> hold(c->lock);
  // Only a CRL the trusted authority signed names an issuer (the authority's subject), so a
  // forged one cannot evict it.
  Cert ca;
  if (ReadCert(c->params[kTrustedCa], ca) != kOk || !CrlSignedBy(crl, ca)) return kUntrusted;
  return WriteText(ca.Subject, Issuer, kMaxUID);
}

#define MPLUG_UNSUPPORTED(name, params) \
  int32_t MP_CALL name params {                           \
    const int32_t r = standin::Hook(#name);              \
    return r != 0 ? r : kNotSupported;                   \
  }
MPLUG_UNSUPPORTED(GetLastErrorMessage, (char*))
MPLUG_UNSUPPORTED(SetRootPath, (const char*))
MPLUG_UNSUPPORTED(SetPasswordRequestFunc, (void*))
MPLUG_UNSUPPORTED(RemoveSignaturesFromFile, (MPHANDLE, const char*))
MPLUG_UNSUPPORTED(GenerateNewSSK, (MPHANDLE))
MPLUG_UNSUPPORTED(GenerateNewSEK, (MPHANDLE))
MPLUG_UNSUPPORTED(IncludePublicKey, (MPHANDLE, const char*))
MPLUG_UNSUPPORTED(IncludePublicEncodeKey, (MPHANDLE, const char*))
MPLUG_UNSUPPORTED(IsDifferentKeys, (MPHANDLE))
MPLUG_UNSUPPORTED(GetCertInfo, (MPHANDLE, const char*, char*))
MPLUG_UNSUPPORTED(MakeRequestForPSE, (MPHANDLE))
MPLUG_UNSUPPORTED(CertificateAndPrivateKeyMatch, (MPHANDLE))
MPLUG_UNSUPPORTED(CertificateAndPSePrivateKeyMatch, (MPHANDLE))
MPLUG_UNSUPPORTED(CertificateAndPSePrivateKeysMatch, (MPHANDLE))
MPLUG_UNSUPPORTED(CertificateAndRequestMatch, (MPHANDLE))
MPLUG_UNSUPPORTED(PSePrivateKeyBackup, (MPHANDLE))
MPLUG_UNSUPPORTED(GetCertInfoEx, (MPHANDLE, const char*, void**))
MPLUG_UNSUPPORTED(FreeCertInfo, (void*))
MPLUG_UNSUPPORTED(GetReqInfo, (MPHANDLE, const char*, void**))
MPLUG_UNSUPPORTED(FreeReqInfo, (void*))

}  // extern "C"

// Every export has exactly the type the binding calls it through.
#define MPLUG_CHECK_TYPE(name) static_assert(std::is_same<decltype(&::name), mpapi::name>::value, #name);
ZK_MPLUG_REQUIRED(MPLUG_CHECK_TYPE)
ZK_MPLUG_OPTIONAL(MPLUG_CHECK_TYPE)
