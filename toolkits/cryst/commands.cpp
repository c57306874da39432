// The commands over memory: "-e[n,...]" encrypt, "-d" and "-o0:N -d" decrypt, "-s" sign, "-v"
// verify. Formats in README.md.
#include <cstring>
#include <sstream>

#include "cryst_internal.h"
#include "keywrap.h"

namespace cryst {

namespace {

constexpr size_t kEnvelopeHead = 24;  // magic | count | sender key id | UKM
constexpr size_t kEntrySize = 8 + gost::kWrappedKeySize;
constexpr size_t kSignatureBlock = 84;

struct Command {
  char verb = 0;  // 'e', 'd', 's', 'v'
  std::vector<int32_t> recipients;
  int32_t generation = 0;  // "-o0:N": the owner's generation N decrypts
};

bool ParseNumbers(const std::string& text, std::vector<int32_t>& numbers) {
  if (text.empty()) return true;
  std::stringstream in(text);
  for (std::string piece; std::getline(in, piece, ',');) {
    if (piece.empty() || piece.size() > 9 || piece.find_first_not_of("0123456789") != std::string::npos) return false;
    numbers.push_back(std::stoi(piece));
  }
  return text.back() != ',';
}

int32_t ParseCommand(const std::string& options, Command& c) {
  std::istringstream in(options);
  for (std::string word; in >> word;) {
    if (word.size() < 2 || word[0] != '-' || c.verb != 0) return kNotSupported;
    const std::string rest = word.substr(2);
    switch (word[1]) {
      case 'e':
        if (!ParseNumbers(rest, c.recipients)) return kBadParameter;
        c.verb = 'e';
        break;
      case 'o': {
        std::vector<int32_t> generation;
        if (rest.compare(0, 2, "0:") != 0 || !ParseNumbers(rest.substr(2), generation) || generation.size() != 1 ||
            generation[0] < 1) {
          return kBadParameter;
        }
        c.generation = generation[0];
        break;
      }
      case 'd':
      case 's':
      case 'v':
        if (!rest.empty()) return kNotSupported;
        c.verb = word[1];
        break;
      default:
        return kNotSupported;
    }
  }
  if (c.verb == 0 || (c.generation != 0 && c.verb != 'd')) return kNotSupported;
  return kOk;
}

void Digest(const uint8_t* data, size_t len, uint8_t out[32]) {
  gost::R3411Hash h;
  h.InitCryptoPro();
  h.Update(data, len);
  h.Final(out);
}

// The MAC covers the envelope's head (everything before the MAC) and the plaintext, so that no bit
// of an envelope can change unnoticed, another recipient's entry included.
void DataMac(const uint8_t cek[32], const uint8_t* head, size_t headLen, const uint8_t* data, size_t len,
             uint8_t mac[4]) {
  gost::Gost28147 cipher;
  cipher.SetKey(cek, gost::kSboxR3411TestParams);
  gost::MacMode m;
  m.Init(&cipher);
  m.Update(head, headLen);
  m.Update(data, len);
  uint8_t full[8];
  m.Final(full);
  std::memcpy(mac, full, 4);
}

void Feedback(const uint8_t cek[32], const uint8_t iv[8], const uint8_t* in, uint8_t* out, size_t len, bool encrypt) {
  gost::Gost28147 cipher;
  cipher.SetKey(cek, gost::kSboxR3411TestParams);
  gost::GammaFeedbackMode cfb;
  cfb.Init(&cipher, iv);
  encrypt ? cfb.Encrypt(in, out, len) : cfb.Decrypt(in, out, len);
  cfb.Wipe();
}

int32_t Encrypt(Context& C, const Command& c, const uint8_t* data, size_t len, Bytes& out) {
  SecretKey own;
  int32_t code = LoadSecret(C, 0, own);
  if (code != kOk) return code;
  // The sender can always read what it sent.
  std::vector<PublicKey> recipients{own.Public};
  for (int32_t number : c.recipients) {
    PublicKey key;
    if ((code = CurrentKeyOf(C, number, key)) != kOk) return code;
    bool listed = false;
    for (const PublicKey& r : recipients) listed = listed || std::memcmp(r.KeyId, key.KeyId, 8) == 0;
    if (!listed) recipients.push_back(key);
  }
  if (recipients.size() > static_cast<size_t>(kMaxRecipients)) return kTooManyRecipients;
  const size_t n = recipients.size();
  out.assign(kEnvelopeHead + n * kEntrySize + 12 + len, 0);
  uint8_t* p = out.data();
  std::memcpy(p, "EXE1", 4);
  WriteLE32(p + 4, static_cast<uint32_t>(n));
  std::memcpy(p + 8, own.Public.KeyId, 8);
  uint8_t* ukm = p + 16;
  gost::SystemRandom(ukm, 8);
  uint8_t cek[32];
  gost::SystemRandom(cek, sizeof(cek));
  for (size_t i = 0; i < n; ++i) {
    uint8_t* entry = p + kEnvelopeHead + i * kEntrySize;
    uint8_t kek[32];
    if (gost::Vko2001(kCurve, own.ExchangeD, recipients[i].Exchange, ukm, kek) != gost::kSignOk) {
      gost::Wipe(cek, sizeof(cek));
      return kUnknownUser;
    }
    std::memcpy(entry, recipients[i].KeyId, 8);
    gost::WrapKey(kek, ukm, cek, gost::kSboxR3411TestParams, entry + 8);
    gost::Wipe(kek, sizeof(kek));
  }
  uint8_t* iv = p + kEnvelopeHead + n * kEntrySize;
  gost::SystemRandom(iv, 8);
  DataMac(cek, p, static_cast<size_t>(iv + 8 - p), data, len, iv + 8);
  Feedback(cek, iv, data, iv + 12, len, true);
  gost::Wipe(cek, sizeof(cek));
  return kOk;
}

int32_t Decrypt(Context& C, const Command& c, const uint8_t* data, size_t len, Bytes& out) {
  if (len < kEnvelopeHead || std::memcmp(data, "EXE1", 4) != 0) return kDamaged;
  const uint32_t n = ReadLE32(data + 4);
  if (n < 1 || n > static_cast<uint32_t>(kMaxRecipients) || len < kEnvelopeHead + n * kEntrySize + 12) return kDamaged;
  SecretKey own;
  int32_t code = LoadSecret(C, c.generation, own);
  if (code != kOk) return code;
  const uint8_t* entry = nullptr;
  for (uint32_t i = 0; i < n && entry == nullptr; ++i) {
    const uint8_t* candidate = data + kEnvelopeHead + i * kEntrySize;
    if (std::memcmp(candidate, own.Public.KeyId, 8) == 0) entry = candidate;
  }
  if (entry == nullptr) return kNotForYou;
  PublicKey sender;
  int32_t number = 0;
  if (KeyById(C, data + 8, sender, number) != kOk) return kUnknownSender;
  uint8_t kek[32], cek[32];
  if (gost::Vko2001(kCurve, own.ExchangeD, sender.Exchange, data + 16, kek) != gost::kSignOk) return kDamaged;
  const bool unwrapped = gost::UnwrapKey(kek, data + 16, entry + 8, gost::kSboxR3411TestParams, cek);
  gost::Wipe(kek, sizeof(kek));
  if (!unwrapped) return kDamaged;
  const uint8_t* iv = data + kEnvelopeHead + n * kEntrySize;
  const size_t bodyLen = len - (kEnvelopeHead + n * kEntrySize + 12);
  out.assign(bodyLen, 0);
  Feedback(cek, iv, iv + 12, out.data(), bodyLen, false);
  uint8_t mac[4];
  DataMac(cek, data, static_cast<size_t>(iv + 8 - data), out.data(), bodyLen, mac);
  gost::Wipe(cek, sizeof(cek));
  if (std::memcmp(mac, iv + 8, 4) != 0) {
    gost::Wipe(out.data(), out.size());
    out.clear();
    return kDamaged;
  }
  return kOk;
}

int32_t Sign(Context& C, const uint8_t* data, size_t len, Bytes& out) {
  SecretKey own;
  const int32_t code = LoadSecret(C, 0, own);
  if (code != kOk) return code;
  uint8_t digest[32];
  Digest(data, len, digest);
  out.assign(data, data + len);
  out.resize(len + kSignatureBlock);
  uint8_t* block = out.data() + len;
  std::memcpy(block, "EXS1", 4);
  std::memcpy(block + 4, own.Public.KeyId, 8);
  WriteLE32(block + 12, static_cast<uint32_t>(own.Public.Generation));
  WriteLE32(block + 16, static_cast<uint32_t>(len));
  return gost::r3410_2001::Sign(kCurve, own.SignD, digest, block + 20) == gost::kSignOk ? kOk : kKeyStore;
}

int32_t Verify(Context& C, const uint8_t* data, size_t len, Bytes& out) {
  if (len <= kSignatureBlock) return kDamaged;
  const size_t dataLen = len - kSignatureBlock;
  const uint8_t* block = data + dataLen;
  if (std::memcmp(block, "EXS1", 4) != 0 || ReadLE32(block + 16) != dataLen) return kDamaged;
  PublicKey signer;
  int32_t number = 0;
  if (KeyById(C, block + 4, signer, number) != kOk) return kUnknownUser;
  // The digest covers the data only: every field of the block is checked against the key.
  if (ReadLE32(block + 12) != static_cast<uint32_t>(signer.Generation)) return kDamaged;
  uint8_t digest[32];
  Digest(data, dataLen, digest);
  if (gost::r3410_2001::Verify(kCurve, signer.Sign, digest, block + 20) != gost::kSignOk) return kBadSignature;
  out.assign(data, data + dataLen);
  return kOk;
}

}  // namespace

int32_t RunMemoryCommand(Context& C, const uint8_t* Data, int32_t Length, const std::string& Options, Bytes& Output) {
  if (Length < 0 || (Data == nullptr && Length > 0)) return kBadParameter;
  Command c;
  const int32_t code = ParseCommand(Options, c);
  if (code != kOk) return code;
  const size_t len = static_cast<size_t>(Length);
  switch (c.verb) {
    case 'e':
      return Encrypt(C, c, Data, len, Output);
    case 'd':
      return Decrypt(C, c, Data, len, Output);
    case 's':
      return Sign(C, Data, len, Output);
    default:
      return Verify(C, Data, len, Output);
  }
}

}  // namespace cryst
