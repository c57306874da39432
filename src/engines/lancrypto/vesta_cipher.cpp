// Encryption for one recipient and decryption, in the caller's buffer.
#include <algorithm>
#include <cstring>

#include "engines/lancrypto/vesta_internal.h"

namespace zk::lancrypto {

namespace {

// The ciphertext's length for a plain length: whole 8-byte blocks except for the byte-exact gamma.
int64_t BodyLength(int32_t method, int64_t plain) { return method == kMethodGamma ? plain : (plain + 7) / 8 * 8; }

}  // namespace

int32_t TVestaDLL::VestaContext(bool FromTouchMemory, int32_t Port, const std::string& KeyFile, ContextHandle& Vesta) {
  if (FromTouchMemory) {
    ContextHandle sign(api_, ContextFamily::Notary);
    return ReadTouchMemoryKeys(Port, sign, Vesta);
  }
  if (!Vesta.Construct()) return kBindNoMemory;
  return Locked(api_.CTV_GetPrivateKeyFile, Vesta.get(), OrDefault(KeyFile, kDefaultEncryptKey).c_str());
}

int32_t TVestaDLL::EncryptBuffer(bool FromTouchMemory, int32_t Port, uint8_t* Data, int32_t* Length,
                                 const char* RecipientUID, int32_t Method, const std::string& Vault,
                                 const std::string& KeyFile) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length == nullptr || *Length < 1 || RecipientUID == nullptr || RecipientUID[0] == '\0') {
    return kBindBadParameters;
  }
  const int32_t plain = *Length;
  if (static_cast<int64_t>(plain) + kEnvelopeHeaderSize + 7 > INT32_MAX) return kBindBadParameters;
  ContextHandle ctx(api_, ContextFamily::Vesta);
  int32_t code = VestaContext(FromTouchMemory, Port, KeyFile, ctx);
  if (code == kCtOk) code = AcquirePassword(ContextFamily::Vesta, ctx.get());
  const std::string vault = OrDefault(Vault, kDefaultEncryptVault);
  if (code == kCtOk) code = Locked(api_.CTV_RetrieveInfoFromVault, ctx.get(), vault.c_str());
  if (code == kCtOk) code = Locked(api_.CTV_ReadPublicKeyFromVault, ctx.get(), RecipientUID, Method);
  if (code == kCtOk) code = api_.CTV_CryptoInit(ctx.get(), Method, 0);
  if (code != kCtOk) return code;

  // The caller's buffer is written only once everything has succeeded.
  SetHashChunkSize(kEncryptPiece);
  const int32_t body = static_cast<int32_t>(BodyLength(Method, plain));
  SecureBytes work(static_cast<size_t>(body));
  std::memcpy(work.data(), Data, static_cast<size_t>(plain));
  for (int32_t done = 0; done < body;) {
    const int32_t piece = std::min(kEncryptPiece, body - done);
    const int32_t count = Method == kMethodGamma ? piece : (piece + 7) / 8;
    if ((code = api_.CTV_CryptoBuffer(ctx.get(), work.data() + done, count)) != kCtOk) return code;
    done += piece;
  }
  WriteLE32(Data, static_cast<uint32_t>(plain));
  std::memcpy(Data + 4, ctx.bytes() + kVestaHeader, kHeaderSize);
  std::memcpy(Data + kEnvelopeHeaderSize, work.data(), static_cast<size_t>(body));
  *Length = kEnvelopeHeaderSize + body;
  return kBindOk;
}

int32_t TVestaDLL::DecryptBuffer(bool FromTouchMemory, int32_t Port, uint8_t* Data, int32_t* Length,
                                 char* SenderUID, const std::string& Vault, const std::string& KeyFile) {
  if (!LibLoaded) return kBindNoLibrary;
  if (Data == nullptr || Length == nullptr || *Length < 1 || SenderUID == nullptr) return kBindBadParameters;
  // The envelope's own length is checked against what arrived before anything is decrypted.
  if (*Length < kEnvelopeHeaderSize) return kBindBadEnvelope;
  const int64_t plain = static_cast<int32_t>(ReadLE32(Data));
  const int32_t method = static_cast<int32_t>(ReadLE32(Data + 4));
  const int64_t body = static_cast<int64_t>(*Length) - kEnvelopeHeaderSize;
  const bool known = method == kMethodGamma || method == kMethodFeedback;
  if (plain < 0 || (known ? body != BodyLength(method, plain) : (body - plain < 0 || body - plain >= 8))) {
    return kBindBadEnvelope;
  }
  ContextHandle ctx(api_, ContextFamily::Vesta);
  int32_t code = VestaContext(FromTouchMemory, Port, KeyFile, ctx);
  if (code == kCtOk) code = AcquirePassword(ContextFamily::Vesta, ctx.get());
  if (code != kCtOk) return code;
  std::memcpy(ctx.bytes() + kVestaHeader, Data + 4, kHeaderSize);
  char sender[kShortNameChars + 1] = {};
  std::memcpy(sender, Data + 4 + kHeaderShortName, kShortNameChars);
  const std::string vault = OrDefault(Vault, kDefaultEncryptVault);
  code = Locked(api_.CTV_RetrieveInfoFromVault, ctx.get(), vault.c_str());
  if (code == kCtOk) code = Locked(api_.CTV_ReadPublicKeyFromVaultByShortName, ctx.get(), static_cast<const char*>(sender), method);
  if (code != kCtOk) return code;
  const std::string senderUID = FieldText(ctx.bytes() + kVestaEntryUID, kUIDChars);
  code = api_.CTV_DecryptoInit(ctx.get(), method, 0);
  if (code != kCtOk && code != kCtOldKey) return code;

  // Decrypted into a copy: a failure leaves the caller's envelope as it was.
  SecureBytes work(static_cast<size_t>(body));
  std::memcpy(work.data(), Data + kEnvelopeHeaderSize, static_cast<size_t>(body));
  Secret<kDecryptPiece> piece;
  const int32_t count = method == kMethodGamma ? kDecryptPiece : kDecryptPiece / 8;
  for (int64_t done = 0; done < body; done += kDecryptPiece) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(kDecryptPiece, body - done));
    // Every call takes a whole piece: a shorter last one is decrypted in a piece of its own.
    uint8_t* at = n == static_cast<size_t>(kDecryptPiece) ? work.data() + done : piece.data();
    if (at == piece.data()) std::memcpy(piece.data(), work.data() + done, n);
    code = api_.CTV_DecryptoBuffer(ctx.get(), at, count);
    if (code != kCtOk && code != kCtOldKey) return code;
    if (at == piece.data()) std::memcpy(work.data() + done, piece.data(), n);
  }
  std::memcpy(Data, work.data(), static_cast<size_t>(plain));
  *Length = static_cast<int32_t>(plain);
  std::memset(SenderUID, 0, kUIDChars + 1);
  std::memcpy(SenderUID, senderUID.c_str(), senderUID.size());
  return kBindOk;
}

}  // namespace zk::lancrypto
