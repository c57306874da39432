// Session-key records (data encrypted for one recipient) and body records (data under a session
// key the caller keeps). All integers little-endian.
//
// session-key record: recipient key number 4 | C 4 | K 4 | V = 8 4 | cipher text C |
//                     encrypted session key K | initialisation vector 8
// body record:        C 4 | E = 0 4 | V = 8 4 | cipher text C | extra field E | vector 8
#include <cstring>

#include "engines/ccom22/cc_dll.h"
#include "engines/ccom22/cc_keycache.h"
#include "engines/ccom22/cc_session.h"

namespace zk::ccom22 {

namespace {

constexpr size_t kRecordHead = 16;
constexpr size_t kBodyHead = 12;
constexpr size_t kWorkReserve = 4096;  // room the toolkit may add to a cipher text
constexpr int32_t kEncrypt = 0, kDecrypt = 1;

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Toolkit buffers of one session key, released when they go.
struct TSessionKeyBuffers {
  const CcApi& api;
  uint8_t* key = nullptr;
  uint8_t* aux = nullptr;
  uint8_t* encrypted = nullptr;
  int32_t encryptedLen = 0;
  ~TSessionKeyBuffers() {
    if (key != nullptr) api.BufferCleanFree(key, static_cast<int32_t>(kSessionKeySize));
    if (aux != nullptr) api.BufferFree(aux);
    if (encrypted != nullptr) api.BufferFree(encrypted);
  }
};

}  // namespace

int32_t TCComDLL::Crypt(HCCCTX Ctx, const uint8_t* Key, int32_t Direction, uint8_t* Vector, const uint8_t* In,
                        size_t Len, SecureBytes& Out) {
  if (int32_t status = api_->BufferCipherInit(Ctx, Key, Direction, Vector)) return status;
  SecureBytes work(Len + kWorkReserve);
  size_t total = 0;
  for (size_t at = 0; at < Len; at += kMaxUpdate) {
    const size_t piece = std::min(kMaxUpdate, Len - at);
    int32_t got = 0;
    if (int32_t status =
            api_->BufferCipherUpdate(Ctx, In + at, static_cast<uint16_t>(piece), work.data() + total, &got))
      return status;
    if (got < 0 || total + static_cast<size_t>(got) > work.size()) return kErrBadRecord;
    total += static_cast<size_t>(got);
  }
  int32_t got = 0;
  if (int32_t status = api_->BufferCipherFinal(Ctx, work.data() + total, &got)) return status;
  if (got < 0 || total + static_cast<size_t>(got) > work.size()) return kErrBadRecord;
  total += static_cast<size_t>(got);
  Out.Assign(work.data(), total);
  return kOk;
}

int32_t TCComDLL::EncryptForUID(const TCComSettings& S, const std::string& Recipient, const uint8_t* Data,
                                size_t Len, std::vector<uint8_t>& Record) {
  if (int32_t status = RefuseEmpty(S)) return status;
  TRandomSession random(*this, S.Hardware);
  if (random.Status() != kOk) return random.Status();
  TAuthorityScope authority(S.UserUID);
  TContext ctx(*api_);
  if (int32_t status = CreateContext(S.UserUID, S, S.Cipher, ctx.Handle())) return status;
  SecureBytes cert;
  const char* certPath = api_->GetCertPath(ctx, Recipient.c_str());
  if (certPath == nullptr || certPath[0] == '\0' || !FindCachedFile(S.UserUID, certPath, cert))
    return kErrNoCertificate;
  int32_t keyNumber = 0;
  if (int32_t status = CheckCertificate(ctx, ImageText(cert), S.VerifyValidity, keyNumber)) return status;
  TSessionKeyBuffers session{*api_};
  if (int32_t status = api_->SessionKeyEncrypt(ctx, ImageText(cert), &session.key, &session.aux, &session.encrypted,
                                               &session.encryptedLen))
    return status;
  if (session.key == nullptr || session.encrypted == nullptr || session.encryptedLen <= 0 ||
      session.encryptedLen > static_cast<int32_t>(kWorkReserve))
    return kErrBadRecord;
  if (int32_t status = RefreshRandom(S.Hardware)) return status;
  uint8_t vector[kVectorSize] = {};
  SecureBytes cipher;
  if (int32_t status = Crypt(ctx, session.key, kEncrypt, vector, Data, Len, cipher)) return status;

  const size_t keyLen = static_cast<size_t>(session.encryptedLen);
  Record.clear();
  Record.reserve(kRecordHead + cipher.size() + keyLen + kVectorSize);
  PutLe32(Record, static_cast<uint32_t>(keyNumber));
  PutLe32(Record, static_cast<uint32_t>(cipher.size()));
  PutLe32(Record, static_cast<uint32_t>(keyLen));
  PutLe32(Record, kVectorSize);
  Record.insert(Record.end(), cipher.data(), cipher.data() + cipher.size());
  Record.insert(Record.end(), session.encrypted, session.encrypted + keyLen);
  Record.insert(Record.end(), vector, vector + kVectorSize);
  return kOk;
}

int32_t TCComDLL::DecryptForUser(const TCComSettings& S, const uint8_t* Record, size_t Len, SecureBytes& Plain) {
  if (int32_t status = RefuseEmpty(S)) return status;
  if (Len < kRecordHead) return kErrBadRecord;
  // Every length is checked against the record before it is used; the sum cannot wrap in 64 bits.
  const uint64_t c = GetLe32(Record + 4), k = GetLe32(Record + 8), v = GetLe32(Record + 12);
  if (v != kVectorSize || c + k + v + kRecordHead != Len || k > INT32_MAX) return kErrBadRecord;
  const int32_t keyNumber = static_cast<int32_t>(GetLe32(Record));
  const uint8_t* cipherText = Record + kRecordHead;
  const uint8_t* encryptedKey = cipherText + c;
  uint8_t vector[kVectorSize];
  std::memcpy(vector, encryptedKey + k, kVectorSize);

  TRandomSession random(*this, S.Hardware);
  if (random.Status() != kOk) return random.Status();
  TAuthorityScope authority(S.UserUID);
  TContext ctx(*api_);
  if (int32_t status = CreateContext(S.UserUID, S, S.Cipher, ctx.Handle())) return status;
  SecureBytes secret;
  const char* secretPath = api_->GetSecPath(ctx, keyNumber);
  if (secretPath == nullptr || !FindCachedFile(S.UserUID, secretPath, secret)) return kErrNoSecretKey;
  CC_SEC_INFO* info = nullptr;
  api_->_SecInfo(ctx, ImageText(secret), &info);
  const int32_t secStatus = info != nullptr ? info->Status : kErrCertRecord;
  if (info != nullptr) api_->FreeSecInfo(info);
  if (S.VerifyValidity && secStatus != kOk) return secStatus;
  TSessionKeyBuffers session{*api_};
  if (int32_t status =
          api_->SessionKeyDecrypt(ctx, ImageText(secret), encryptedKey, static_cast<int32_t>(k), &session.key))
    return status;
  if (session.key == nullptr) return kErrBadRecord;
  return Crypt(ctx, session.key, kDecrypt, vector, cipherText, static_cast<size_t>(c), Plain);
}

int32_t TCComDLL::EncryptBody(const TCComSettings& S, const uint8_t* Data, size_t Len, std::vector<uint8_t>& Record,
                              Secret<kSessionKeySize>& Key) {
  TContext ctx(*api_);
  if (int32_t status = CreateContext(std::string(), S, S.Cipher, ctx.Handle())) return status;
  TRandomSession random(*this, S.Hardware);
  if (random.Status() != kOk) return random.Status();
  if (int32_t status = RefreshRandom(S.Hardware)) return status;
  if (int32_t status = GetRandomBytes(S.Hardware, Key.data(), Key.size())) return status;
  uint8_t vector[kVectorSize] = {};
  SecureBytes cipher;
  if (int32_t status = Crypt(ctx, Key.data(), kEncrypt, vector, Data, Len, cipher)) return status;
  Record.clear();
  Record.reserve(kBodyHead + cipher.size() + kVectorSize);
  PutLe32(Record, static_cast<uint32_t>(cipher.size()));
  PutLe32(Record, 0);
  PutLe32(Record, kVectorSize);
  Record.insert(Record.end(), cipher.data(), cipher.data() + cipher.size());
  Record.insert(Record.end(), vector, vector + kVectorSize);
  return kOk;
}

int32_t TCComDLL::DecryptBody(const TCComSettings& S, const uint8_t* Record, size_t Len, const uint8_t* Key,
                              SecureBytes& Plain) {
  if (Len < kBodyHead) return kErrBadRecord;
  const uint64_t c = GetLe32(Record), e = GetLe32(Record + 4), v = GetLe32(Record + 8);
  if (v != kVectorSize || c + e + v + kBodyHead != Len) return kErrBadRecord;
  uint8_t vector[kVectorSize];
  std::memcpy(vector, Record + kBodyHead + c + e, kVectorSize);
  TContext ctx(*api_);
  if (int32_t status = CreateContext(std::string(), S, S.Cipher, ctx.Handle())) return status;
  return Crypt(ctx, Key, kDecrypt, vector, Record + kBodyHead, static_cast<size_t>(c), Plain);
}

}  // namespace zk::ccom22
