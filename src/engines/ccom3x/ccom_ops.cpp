// Signing, verification and the envelope, built from the toolkit's primitives.
#include <cstring>

#include "engines/ccom3x/ccom_codes.h"
#include "engines/ccom3x/ccom_dll.h"
#include "engines/ccom3x/ccom_envelope.h"
#include "frame/lefields.h"
#include "frame/secure.h"

namespace zk::ccom3x {

int32_t TCCom3x_DLL::Sign(const TCCom3x_UserParam& P, const uint8_t* Data, size_t Len, std::vector<uint8_t>& Block) {
  uint8_t signature[kSignatureSize] = {};
  std::string uid;
  const int32_t code = UsePrivateKey(P, [&](CCOM_PSE* pse) -> int32_t {
    uid = ownRecord_.UID;
    auto ctx = std::unique_ptr<CCOM_ECGOST_SIGN, decltype(api_.ECGOST_SIGN_free)>(api_.ECGOST_SIGN_new(),
                                                                                  api_.ECGOST_SIGN_free);
    if (!ctx) return Failure();
    // The signed message is the UID, its zero and the data.
    if (api_.ECGOST_sign_init(ctx.get(), pse) != kCComOk ||
        api_.ECGOST_update(ctx.get(), uid.c_str(), uid.size() + 1) != kCComOk ||
        (Len > 0 && api_.ECGOST_update(ctx.get(), Data, Len) != kCComOk) ||
        api_.ECGOST_sign_final(ctx.get(), signature) != kCComOk)
      return Failure();
    return kOk;
  });
  if (code != kOk) return code;
  Block.assign(uid.begin(), uid.end());
  Block.push_back(0);
  Block.insert(Block.end(), signature, signature + kSignatureSize);
  return kOk;
}

int32_t TCCom3x_DLL::Verify(const TCCom3x_UserParam& P, const std::string& SignerUID, const uint8_t* Data,
                            size_t Len, const uint8_t* Signature) {
  uint8_t key[kPublicValueSize] = {};
  int32_t keyLen = 0;
  const int32_t code = CheckedRecord(P, SignerUID, key, keyLen);
  if (code != kOk) return code;
  return CheckSignature(key, keyLen, SignerUID.c_str(), SignerUID.size() + 1, Data, Len, Signature, kSignatureSize);
}

int32_t TCCom3x_DLL::Encrypt(const TCCom3x_UserParam& P, CipherMethod Method, const std::vector<std::string>& UIDs,
                             const uint8_t* Data, size_t Len, std::vector<uint8_t>& Envelope) {
  std::string own;
  int32_t code = OwnUID(P, own);
  if (code != kOk) return code;
  Secret<kSessionKeySize + kVectorSize> random;
  if ((code = Random(P, random.data(), kSessionKeySize + kVectorSize)) != kOk) return code;
  const uint8_t* sessionKey = random.data();
  const uint8_t* vector = random.data() + kSessionKeySize;

  Envelope.clear();
  Envelope.reserve(static_cast<size_t>(EnvelopeSize(own, UIDs, Len)));
  AppendLE32(Envelope, static_cast<uint32_t>(UIDs.size()));
  AppendLE32(Envelope, static_cast<uint32_t>(Method));
  Envelope.insert(Envelope.end(), own.c_str(), own.c_str() + own.size() + 1);
  for (const std::string& uid : UIDs) {
    Secret<kSessionKeySize> pairwise;
    if ((code = PairwiseKeyFor(P, uid, pairwise.data())) != kOk) return code;
    uint8_t mac[kMacSize] = {};
    Secret<kSessionKeySize> wrapped;
    if ((code = Crypt(Method, true, pairwise.data(), vector, sessionKey, wrapped.data(), kSessionKeySize)) != kOk ||
        (code = Mac(pairwise.data(), vector, sessionKey, kSessionKeySize, mac)) != kOk)
      return code;
    Envelope.insert(Envelope.end(), uid.c_str(), uid.c_str() + uid.size() + 1);
    Envelope.insert(Envelope.end(), mac, mac + kMacSize);
    Envelope.insert(Envelope.end(), wrapped.data(), wrapped.data() + kSessionKeySize);
  }
  Envelope.insert(Envelope.end(), vector, vector + kVectorSize);
  const size_t tail = Envelope.size();
  Envelope.resize(tail + kEnvelopeTailSize - kVectorSize + Len);
  uint8_t* bodyMac = Envelope.data() + tail;
  if ((code = Mac(sessionKey, vector, Data, Len, bodyMac)) != kOk ||
      (code = SenderValue(bodyMac + kMacSize)) != kOk ||
      (code = Crypt(Method, true, sessionKey, vector, Data, bodyMac + kMacSize + kPublicValueSize, Len)) != kOk)
    return code;
  return kOk;
}

int32_t TCCom3x_DLL::Decrypt(const TCCom3x_UserParam& P, const uint8_t* Data, size_t Len, SecureBytes& Plain) {
  EnvelopeView view;
  int32_t code = ParseEnvelope(Data, Len, view);
  if (code != kOk) return code;
  if (view.Method != static_cast<uint32_t>(CipherMethod::kGamma) &&
      view.Method != static_cast<uint32_t>(CipherMethod::kGammaFeedback))
    return kErrBadMethod;
  const auto method = static_cast<CipherMethod>(view.Method);
  std::string own;
  if ((code = OwnUID(P, own)) != kOk) return code;
  const EnvelopeEntry* mine = nullptr;
  for (const EnvelopeEntry& entry : view.Entries) {
    if (entry.UIDLen == own.size() && std::memcmp(entry.UID, own.data(), own.size()) == 0) {
      mine = &entry;
      break;
    }
  }
  if (mine == nullptr) return kErrNotForUs;

  // The pairwise key from the user's private key and the sender's value in the envelope.
  Secret<kSessionKeySize> pairwise;
  code = UsePrivateKey(P, [&](CCOM_PSE* pse) -> int32_t {
    auto dh = std::unique_ptr<CCOM_ECGOST_DH, decltype(api_.ECGOST_DH_free)>(api_.ECGOST_DH_new(), api_.ECGOST_DH_free);
    if (!dh) return Failure();
    uint8_t ownValue[kPublicValueSize] = {};
    Secret<kAgreedValueSize> agreed;
    if (api_.ECGOST_DH_generate_key(dh.get(), pse, ownValue) != kCComOk) return Failure();
    // A sender value that is no point of the curve: the header was altered.
    if (api_.ECGOST_DH_compute_key(dh.get(), view.SenderValue, agreed.data()) != kCComOk) return kErrHeaderIntegrity;
    return DeriveKey(agreed.data(), pairwise.data());
  });
  if (code != kOk) return code;

  Secret<kSessionKeySize> sessionKey;
  uint8_t mac[kMacSize] = {};
  if ((code = Crypt(method, false, pairwise.data(), view.Vector, mine->WrappedKey, sessionKey.data(),
                    kSessionKeySize)) != kOk ||
      (code = Mac(pairwise.data(), view.Vector, sessionKey.data(), kSessionKeySize, mac)) != kOk)
    return code;
  if (!ConstantTimeEqual(mac, mine->Mac, kMacSize)) return kErrHeaderIntegrity;

  Plain.Allocate(view.CipherTextLen);
  if ((code = Crypt(method, false, sessionKey.data(), view.Vector, view.CipherText, Plain.data(),
                    view.CipherTextLen)) != kOk ||
      (code = Mac(sessionKey.data(), view.Vector, Plain.data(), Plain.size(), mac)) != kOk)
    return code;
  if (!ConstantTimeEqual(mac, view.BodyMac, kMacSize)) return kErrDataIntegrity;
  return kOk;
}

}  // namespace zk::ccom3x
