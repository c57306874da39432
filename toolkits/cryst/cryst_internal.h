// Inside the cryst.dll stand-in: the context, the result codes, the key stores and the commands.
// The formats are described in README.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engines/excellence/cryst_api.h"
#include "frame/lefields.h"
#include "gost.h"

namespace cryst {

using Bytes = std::vector<uint8_t>;

// Result codes of the stand-in (57 and 92 are the ones the adapter relies on).
enum Code : int32_t {
  kOk = 0,
  kUnknownUser = 11,
  kBadSignature = 12,
  kNotForYou = 13,
  kDamaged = 14,
  kTooManyRecipients = 15,
  kBadSettings = 16,
  kNotSupported = 17,
  kKeyStore = 18,
  kFileError = 19,
  kOwnKey = 20,
  kBadParameter = 21,
  kBufferTooSmall = 22,
  kUnknownSender = 23,
  kNoMemory = 24,
  kPasswordNeeded = zk::excellence::kToolkitPasswordNeeded,
  kDeviceAbsent = zk::excellence::kToolkitDeviceAbsent,
};

constexpr int32_t kMaxUIDChars = 16;
constexpr int32_t kMaxRecipients = 8;
constexpr auto kCurve = gost::r3410_2001::Curve::CryptoProA;

struct Settings {
  std::string SecretKeyDir, PublicKeyDir, WorkDir, MasterKeyFile, DeviceDll;
  std::string SigAlg = "GOST", EncAlg = "GOST", Language = "EN";
  uint16_t SigKeyLen = 512, ExchKeyLen = 512;
  int32_t Port = 2, DeviceType = 4;
};

struct Context {
  Settings S;
  std::string Password;
  int32_t LastError = 0;
  std::string Message;
};

// True for an empty setting or one of blanks only (the adapter sends " " for "none").
inline bool IsBlank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

// Null unless Handle is a context this module opened and has not closed.
Context* Live(CrystContext Handle);
// Records Code as the context's last error and answers it.
int32_t Fail(Context& C, int32_t Code);
// The text of a code in the context's language (Russian texts in Windows-1251).
std::string CodeText(const Context& C, int32_t Code);

// One key generation of a user: what every party may know.
struct PublicKey {
  int32_t Generation = 0;
  std::string UID;
  uint8_t KeyId[8] = {};
  gost::r3410_2001::Point Sign{};
  gost::r3410_2001::Point Exchange{};
};
// The owner's secret halves of one generation.
struct SecretKey {
  PublicKey Public;
  uint8_t SignD[32] = {};
  uint8_t ExchangeD[32] = {};
  ~SecretKey() {
    gost::Wipe(SignD, sizeof(SignD));
    gost::Wipe(ExchangeD, sizeof(ExchangeD));
  }
};
// A correspondent's key generation in the public-key directory, with the user number.
struct Correspondent {
  int32_t Number = 0;
  PublicKey Key;
};

// Key stores. Every function answers a code.
// The directory the owner's keys live in: the secret-key directory, or the key device's.
int32_t OwnerDir(const Context& C, std::string& Dir);
// Public halves of the owner's generations (no password needed), newest last.
int32_t OwnerKeys(const Context& C, std::vector<PublicKey>& Keys);
// Generation 0 means the newest; needs the password.
int32_t LoadSecret(const Context& C, int32_t Generation, SecretKey& Key);
// Every generation of every correspondent in the public-key directory.
int32_t Correspondents(const Context& C, std::vector<Correspondent>& All);
// The newest generation of user Number (0: the owner).
int32_t CurrentKeyOf(const Context& C, int32_t Number, PublicKey& Key);
// The key whose id is KeyId among the owner's and the correspondents' generations; Number is the
// user's number.
int32_t KeyById(const Context& C, const uint8_t KeyId[8], PublicKey& Key, int32_t& Number);
int32_t ImportPublicKeyFile(const Context& C, const std::string& File);
int32_t RemoveUser(const Context& C, int32_t Number);

// The owner's key files in one directory.
int32_t ReadOwnerKeys(const std::string& Dir, std::vector<PublicKey>& Keys);
int32_t ReadOwnerSecret(const std::string& Dir, int32_t Generation, const std::string& Password, SecretKey& Key);

// The exported public-key file.
Bytes EncodePublicFile(const PublicKey& Key, const uint8_t SignD[32]);
// The self-signature is checked when a file is imported; a filed copy is only checked for its
// structure and the key id its keys give.
int32_t DecodePublicFile(const Bytes& File, PublicKey& Key, bool CheckSignature);
void KeyIdOf(PublicKey& Key);
std::string JoinPath(const std::string& Dir, const std::string& Name);
bool ReadFile(const std::string& Path, Bytes& Data, size_t MaxSize);
// Replaces the file whole or not at all.
bool WriteReplacing(const std::string& Path, const Bytes& Data);

// The commands over memory: Output receives the result bytes.
int32_t RunMemoryCommand(Context& C, const uint8_t* Data, int32_t Length, const std::string& Options, Bytes& Output);

using zk::ReadLE32;
using zk::WriteLE32;

}  // namespace cryst
