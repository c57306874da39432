// The signature and encryption services: open and close, detached signatures in memory, and
// encryption of memory for a list of key numbers.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "wbotho_internal.h"

namespace wbotho {

namespace {

constexpr size_t kSignatureSize = 87;  // "VS" | count 1 | signId 12 | time 8 | r 32 | s 32
constexpr size_t kHeader = zk::verbaow::kEncryptHeaderSize;
constexpr size_t kItem = zk::verbaow::kEncryptItemSize;
// Header: "VE" | version 1 | sender signId 12 | N 2 | IV 8 | data MAC 4 | L 4 | 4 zero bytes.
constexpr size_t kSenderAt = 3, kCountAt = 15, kIvAt = 17, kMacAt = 25, kLengthAt = 29, kReservedAt = 33;
// Item: key number 2 | encId 10 | wrapped key 36.
constexpr size_t kItemIdAt = 2, kItemWrapAt = 12;

struct Services {
  std::mutex lock;
  bool signOpen = false, cryptoOpen = false;
  std::string signDir, cryptoDir;
};

Services& State() {
  static standin::Immortal<Services> services;
  return services.get();
}

int Open(bool& open, std::string& dir, const char* secretPath, const char* publicPath) {
  if (secretPath == nullptr || publicPath == nullptr) return kBadParameter;
  if (secretPath[0] == '\0') return kInitFailed;
  std::lock_guard<std::mutex> hold(State().lock);
  open = true;
  dir = publicPath;
  return kOk;
}

void Close(bool& open) {
  std::lock_guard<std::mutex> hold(State().lock);
  open = false;
}

void SignatureDigest(const uint8_t* data, size_t len, const uint8_t* signIdAndTime, uint8_t digest[32]) {
  gost::R3411Hash hash;
  hash.InitCryptoPro();
  hash.Update(data, len);
  hash.Update(signIdAndTime, 20);
  hash.Final(digest);
}

// A signer's public signature key, from the directory (the own key too, once included there).
int SignerKey(const std::string& dir, const std::string& signId, gost::r3410_2001::Point& q) {
  PublicKeys keys;
  if (int code = ReadDirectoryEntry(dir, KeyNumberOf(signId), keys)) return code;
  if (keys.signId != signId) return kKeyNotInDirectory;
  q = keys.qS;
  return kOk;
}

// A correspondent's public encryption key and identifiers: the own key set's for its own number,
// else the directory's.
int EncryptionKey(const std::string& dir, const KeySet& own, int keyNumber, PublicKeys& keys) {
  if (keyNumber == own.KeyNumber()) {
    keys.encId = own.encId;
    keys.signId = own.signId;
    return gost::r3410_2001::PublicFromSecret(kCurve, own.dE, keys.qE) == gost::kSignOk ? kOk : kCryptoFailure;
  }
  return ReadDirectoryEntry(dir, keyNumber, keys);
}

// The data MAC under the session key: header (its MAC field as zeros), items, then the plain data.
void DataMac(const uint8_t cek[32], const uint8_t* header, const uint8_t* items, size_t itemsLen,
             const uint8_t* plain, size_t len, uint8_t mac[4]) {
  uint8_t head[kHeader];
  std::memcpy(head, header, kHeader);
  std::memset(head + kMacAt, 0, 4);
  gost::Gost28147 cipher;
  cipher.SetKey(cek, Sbox());
  gost::MacMode m;
  m.Init(&cipher);
  m.Update(head, kHeader);
  m.Update(items, itemsLen);
  m.Update(plain, len);
  uint8_t full[8];
  m.Final(full);
  std::memcpy(mac, full, 4);
}

void Cfb(const uint8_t cek[32], const uint8_t iv[8], const uint8_t* in, uint8_t* out, size_t len, bool encrypt) {
  gost::Gost28147 cipher;
  cipher.SetKey(cek, Sbox());
  gost::GammaFeedbackMode mode;
  mode.Init(&cipher, iv);
  encrypt ? mode.Encrypt(in, out, len) : mode.Decrypt(in, out, len);
  mode.Wipe();
}

// The header's own checks: 10 for a length that does not add up, 11 for no encrypted block.
int ParseHeader(const uint8_t* data, uint32_t length, uint16_t& count, uint32_t& plainLen) {
  if (length < kHeader) return kBadLength;
  if (data[0] != 'V' || data[1] != 'E' || data[2] != 1 || GetLe(data + kReservedAt, 4) != 0) return kNotEncrypted;
  count = static_cast<uint16_t>(GetLe(data + kCountAt, 2));
  plainLen = static_cast<uint32_t>(GetLe(data + kLengthAt, 4));
  if (count == 0) return kNotEncrypted;
  const uint64_t total = kHeader + static_cast<uint64_t>(kItem) * count + plainLen;
  return total == length ? kOk : kBadLength;
}

}  // namespace

}  // namespace wbotho

using namespace wbotho;

STANDIN_EXPORT int16_t WB_CALL SignInit(const char* secretPath, const char* publicPath) {
  WBOTHO_HOOK("SignInit");
  return static_cast<int16_t>(Open(State().signOpen, State().signDir, secretPath, publicPath));
}

STANDIN_EXPORT int16_t WB_CALL SignDone(void) {
  WBOTHO_HOOK("SignDone");
  Close(State().signOpen);
  return kOk;
}

STANDIN_EXPORT int16_t WB_CALL CryptoInit(const char* secretPath, const char* publicPath) {
  WBOTHO_HOOK("CryptoInit");
  return static_cast<int16_t>(Open(State().cryptoOpen, State().cryptoDir, secretPath, publicPath));
}

STANDIN_EXPORT int16_t WB_CALL CryptoDone(void) {
  WBOTHO_HOOK("CryptoDone");
  Close(State().cryptoOpen);
  return kOk;
}

STANDIN_EXPORT int16_t WB_CALL FreeMemory(void* block) {
  // A scripted failure is answered, but the block is freed all the same: the caller has nothing
  // left to retry with, so memory kept here would only be lost.
  const int scripted = ::standin::Hook("FreeMemory");
  std::free(block);
  return static_cast<int16_t>(scripted != 0 ? scripted : kOk);
}

STANDIN_EXPORT int16_t WB_CALL SignMemSeparateEx(const uint8_t* data, uint32_t length, uint8_t* signature,
                                                 const char* signerId, uint32_t* signatureLength) {
  WBOTHO_HOOK("SignMemSeparateEx");
  if (data == nullptr || signature == nullptr || signerId == nullptr || signatureLength == nullptr) {
    return kBadParameter;
  }
  if (!State().signOpen) return kInitFailed;
  KeySet own;
  if (int code = FindLoadedBySignId(signerId, own)) return static_cast<int16_t>(code);
  uint8_t sig[kSignatureSize] = {'V', 'S', 1};
  std::memcpy(sig + 3, own.signId.data(), kSignIdChars);
  PutLe(sig + 15, static_cast<uint64_t>(std::time(nullptr)), 8);
  uint8_t digest[32];
  SignatureDigest(data, length, sig + 3, digest);
  if (gost::r3410_2001::Sign(kCurve, own.dS, digest, sig + 23) != gost::kSignOk) return kCryptoFailure;
  // A scripted padding ("siglen <n>") makes the toolkit write n bytes, as a larger format would.
  const size_t total = std::max(kSignatureSize, TakeSignaturePadding());
  std::memset(signature, 0, total);
  std::memcpy(signature, sig, kSignatureSize);
  *signatureLength = static_cast<uint32_t>(total);
  return kOk;
}

// Status at 135 of the result block: 0 valid, 1 the signature does not hold, 2 no public key.
STANDIN_EXPORT int16_t WB_CALL CheckMemSeparate(const uint8_t* data, uint32_t length, const uint8_t* signature,
                                                uint8_t* count, uint8_t** block, uint32_t signatureLength) {
  WBOTHO_HOOK("CheckMemSeparate");
  if (data == nullptr || signature == nullptr || count == nullptr || block == nullptr) return kBadParameter;
  *count = 0;
  *block = nullptr;
  std::string dir;
  {
    std::lock_guard<std::mutex> hold(State().lock);
    if (!State().signOpen) return kInitFailed;
    dir = State().signDir;
  }
  if (signatureLength != kSignatureSize || signature[0] != 'V' || signature[1] != 'S' || signature[2] != 1) {
    return kNotSigned;
  }
  const std::string signId(reinterpret_cast<const char*>(signature + 3), kSignIdChars);
  uint8_t status = 0;
  gost::r3410_2001::Point q;
  const int found = IsSignId(signId) ? SignerKey(dir, signId, q) : kKeyNotInDirectory;
  if (found == kKeyNotInDirectory) {
    status = 2;
  } else if (found != kOk) {
    return static_cast<int16_t>(found);
  } else {
    uint8_t digest[32];
    SignatureDigest(data, length, signature + 3, digest);
    status = gost::r3410_2001::Verify(kCurve, q, digest, signature + 23) == gost::kSignOk ? 0 : 1;
  }
  uint8_t* result = static_cast<uint8_t*>(std::calloc(1, zk::verbaow::kCheckBlockSize));
  if (result == nullptr) return kNoMemory;
  std::memcpy(result, signature + 3, kSignIdChars);
  result[zk::verbaow::kCheckStatusAt] = status;
  *count = 1;
  *block = result;
  return kOk;
}

STANDIN_EXPORT int16_t WB_CALL EnCryptMem(const uint8_t* data, uint32_t length, uint8_t* out, uint16_t ownKeyNumber,
                                          const uint16_t* recipients, const char* keySerial) {
  WBOTHO_HOOK("EnCryptMem");
  if (data == nullptr || out == nullptr || recipients == nullptr) return kBadParameter;
  if (length == 0) return kBadLength;
  std::string dir;
  {
    std::lock_guard<std::mutex> hold(State().lock);
    if (!State().cryptoOpen) return kInitFailed;
    dir = State().cryptoDir;
  }
  KeySet own;
  if (int code = FindLoadedByKeyNumber(ownKeyNumber, own)) return static_cast<int16_t>(code);
  if (keySerial != nullptr && keySerial[0] != '\0' && own.Series() != keySerial) return kBadParameter;
  size_t n = 0;
  while (recipients[n] != 0) ++n;
  if (n == 0 || n > 0xFFFF) return kBadParameter;

  Bytes header(kHeader, 0), items(kItem * n, 0);
  uint8_t cek[32];
  gost::SystemRandom(cek, sizeof cek);
  header[0] = 'V';
  header[1] = 'E';
  header[2] = 1;
  std::memcpy(header.data() + kSenderAt, own.signId.data(), kSignIdChars);
  PutLe(header.data() + kCountAt, n, 2);
  gost::SystemRandom(header.data() + kIvAt, 8);
  PutLe(header.data() + kLengthAt, length, 4);
  int code = kOk;
  for (size_t i = 0; i < n && code == kOk; ++i) {
    uint8_t* item = items.data() + i * kItem;
    PublicKeys keys;
    code = EncryptionKey(dir, own, recipients[i], keys);
    uint8_t kek[32];
    if (code == kOk && gost::vko2001::Agree(kCurve, own.dE, keys.qE, header.data() + kIvAt, true, kek) != gost::kSignOk) {
      code = kCryptoFailure;
    }
    if (code != kOk) break;
    PutLe(item, recipients[i], 2);
    std::memcpy(item + kItemIdAt, keys.encId.data(), kEncIdChars);
    gost::vko2001::Wrap(kek, header.data() + kIvAt, cek, Sbox(), item + kItemWrapAt);
    gost::Wipe(kek, sizeof kek);
  }
  if (code == kOk) {
    const Bytes plain(data, data + length);  // out may overlap data
    DataMac(cek, header.data(), items.data(), items.size(), plain.data(), length, header.data() + kMacAt);
    std::memcpy(out, header.data(), kHeader);
    std::memcpy(out + kHeader, items.data(), items.size());
    Cfb(cek, header.data() + kIvAt, plain.data(), out + kHeader + items.size(), length, true);
  }
  gost::Wipe(cek, sizeof cek);
  return static_cast<int16_t>(code);
}

STANDIN_EXPORT int16_t WB_CALL GetMemSenderID(const uint8_t* data, uint32_t length, char* senderId) {
  WBOTHO_HOOK("GetMemSenderID");
  if (data == nullptr || senderId == nullptr) return kBadParameter;
  uint16_t count = 0;
  uint32_t plainLen = 0;
  if (int code = ParseHeader(data, length, count, plainLen)) return static_cast<int16_t>(code);
  std::memcpy(senderId, data + kSenderAt, kSignIdChars);
  senderId[kSignIdChars] = '\0';
  return kOk;
}

// Every check passes before the data is overwritten; a failure leaves the block as it was.
STANDIN_EXPORT int16_t WB_CALL DeCryptMem(uint8_t* data, uint32_t* length, uint16_t ownKeyNumber) {
  WBOTHO_HOOK("DeCryptMem");
  if (data == nullptr || length == nullptr) return kBadParameter;
  std::string dir;
  {
    std::lock_guard<std::mutex> hold(State().lock);
    if (!State().cryptoOpen) return kInitFailed;
    dir = State().cryptoDir;
  }
  uint16_t n = 0;
  uint32_t plainLen = 0;
  if (int code = ParseHeader(data, *length, n, plainLen)) return static_cast<int16_t>(code);
  KeySet own;
  if (int code = FindLoadedByKeyNumber(ownKeyNumber, own)) return static_cast<int16_t>(code);
  const uint8_t* items = data + kHeader;
  const uint8_t* mine = nullptr;
  for (size_t i = 0; i < n && mine == nullptr; ++i) {
    const uint8_t* item = items + i * kItem;
    if (GetLe(item, 2) == ownKeyNumber && std::memcmp(item + kItemIdAt, own.encId.data(), kEncIdChars) == 0) {
      mine = item;
    }
  }
  if (mine == nullptr) return kKeyMissing;
  const int senderNumber = KeyNumberOf(Text(data + kSenderAt, kSignIdChars));
  if (senderNumber < 0) return kNotEncrypted;
  PublicKeys sender;
  if (int code = EncryptionKey(dir, own, senderNumber, sender)) return static_cast<int16_t>(code);
  if (std::memcmp(sender.signId.data(), data + kSenderAt, kSignIdChars) != 0) return kMacMismatch;
  uint8_t kek[32], cek[32];
  if (gost::vko2001::Agree(kCurve, own.dE, sender.qE, data + kIvAt, true, kek) != gost::kSignOk) return kCryptoFailure;
  const bool unwrapped = gost::vko2001::Unwrap(kek, data + kIvAt, mine + kItemWrapAt, Sbox(), cek);
  gost::Wipe(kek, sizeof kek);
  if (!unwrapped) return kMacMismatch;
  Bytes plain(plainLen);
  Cfb(cek, data + kIvAt, items + n * kItem, plain.data(), plainLen, false);
  uint8_t mac[4];
  DataMac(cek, data, items, n * kItem, plain.data(), plainLen, mac);
  gost::Wipe(cek, sizeof cek);
  if (!SameBytes(mac, data + kMacAt, 4)) {
    gost::Wipe(plain.data(), plain.size());
    return kMacMismatch;
  }
  std::memcpy(data, plain.data(), plainLen);
  gost::Wipe(plain.data(), plain.size());
  *length = plainLen;
  return kOk;
}

// Resolved by the binding, never called: answered as a parameter error.
#define WBOTHO_UNUSED(name)                         \
  STANDIN_EXPORT int16_t WB_CALL name(void) {       \
    WBOTHO_HOOK(#name);                             \
    return kBadParameter;                           \
  }
WBOTHO_UNUSED(SignLogIn)
WBOTHO_UNUSED(SignLogOut)
WBOTHO_UNUSED(DelSign)
WBOTHO_UNUSED(SignFile)
WBOTHO_UNUSED(check_file_sign)
WBOTHO_UNUSED(SignMem)
WBOTHO_UNUSED(SignMemEx)
WBOTHO_UNUSED(check_mem_sign)
WBOTHO_UNUSED(Del_Mem_Sign)
WBOTHO_UNUSED(SignMemSeparate)
WBOTHO_UNUSED(EnCryptFile)
WBOTHO_UNUSED(DeCryptFile)
WBOTHO_UNUSED(GetCryptKeysF)
WBOTHO_UNUSED(GetCryptKeysM)
WBOTHO_UNUSED(GetFileSenderID)
WBOTHO_UNUSED(GetAlias)
WBOTHO_UNUSED(ExtractKey)
