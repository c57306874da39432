// What the parts of the wbotho.dll stand-in share: its result codes, the key sets and their files,
// the key driver, the public-key directory and the two services. Formats: README.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engines/verbaow/wbotho_api.h"
#include "gost.h"
#include "standin.h"

#ifndef VOW_GENERATION
#define VOW_GENERATION 4
#endif

namespace wbotho {

using Bytes = std::vector<uint8_t>;
constexpr gost::r3410_2001::Curve kCurve = gost::r3410_2001::Curve::CryptoProA;
constexpr int kGeneration = VOW_GENERATION;

// Toolkit result codes this stand-in answers.
enum Code : int16_t {
  kOk = 0,
  kNoMemory = 1,
  kCryptoFailure = 2,
  kMacMismatch = 4,
  kKeyMissing = 6,
  kBadParameter = 7,
  kInitFailed = 8,
  kBadLength = 10,
  kNotEncrypted = 11,
  kNotSigned = 12,
  kDeviceUnreadable = 36,
  kKeyAlreadyLoaded = 37,
  kNoFreeSlot = 38,
  kDirectoryWrite = 109,
  kBadDirectoryMac = 111,
  kKeyNotInDirectory = 117,
  kDamagedPublicKey = 121,
  kNoDirectory = 122,
};

constexpr size_t kEncIdChars = 10;
constexpr size_t kSignIdChars = 12;

// One user's key set: two identifiers and two GOST R 34.10-2001 secret keys.
struct KeySet {
  std::string encId;   // 10 characters: key number (4 digits) and series (6)
  std::string signId;  // 12 characters: the same 10 and 2 more
  uint8_t dE[32] = {};
  uint8_t dS[32] = {};
  ~KeySet();
  int KeyNumber() const;
  std::string Series() const { return encId.substr(4, 6); }
};

// A correspondent's public keys as a public-key file carries them.
struct PublicKeys {
  std::string encId, signId;
  gost::r3410_2001::Point qE{}, qS{};
};

// --- identifiers ---
bool IsEncId(const std::string& id);
bool IsSignId(const std::string& id);
// The decimal key number of an identifier's first four characters, or -1.
int KeyNumberOf(const std::string& id);
std::string Text(const uint8_t* p, size_t n);  // up to the first zero, at most n bytes

// --- hashing, little helpers ---
void Hash(const uint8_t* data, size_t len, uint8_t out[32]);
bool SameBytes(const uint8_t* a, const uint8_t* b, size_t n);
const uint8_t* Sbox();
void PutLe(uint8_t* p, uint64_t v, size_t n);
uint64_t GetLe(const uint8_t* p, size_t n);

// --- key-set and public-key files (keyfiles.cpp) ---
constexpr size_t kKeySetFileSize = 122;
constexpr size_t kPublicFileSize4 = 240;
constexpr size_t kPublicFileSize5 = 304;
bool ParseKeySet(const Bytes& file, KeySet& set);
// Size of the public-key image by its tag (0 for none this build accepts), and its keys.
size_t PublicImageSize(const uint8_t* image);
int ParsePublicImage(const uint8_t* image, PublicKeys& keys);
int MakePublicImage(const KeySet& set, int format, Bytes& image);

// --- devices (driver.cpp) ---
bool IsRemovableDevice(const std::string& device);
// The directory a device name stands for: itself for a path; for a touch memory or smart card the
// directory of its key medium (kDeviceUnreadable while detached or without a medium).
int DeviceDirectory(const std::string& device, std::string& dir);
// The stand-in's own control verbs ("medium", "siglen"); -2 for any other command.
int DeviceControl(const std::vector<std::string>& words);
size_t TakeSignaturePadding();

// --- the key driver (driver.cpp) ---
// Copies the loaded key set; kKeyMissing when none matches, kDeviceUnreadable while its touch
// memory or smart card is detached.
int FindLoadedBySignId(const std::string& signId, KeySet& out);
int FindLoadedByKeyNumber(int keyNumber, KeySet& out);

// --- the public-key directory (directory.cpp) ---
// The correspondent's keys from the directory; kKeyNotInDirectory, kBadDirectoryMac.
int ReadDirectoryEntry(const std::string& dir, int keyNumber, PublicKeys& keys);
std::string JoinPath(const std::string& dir, const std::string& name);

}  // namespace wbotho

// Every export asks the control entry first under its own name.
#define WBOTHO_HOOK(name)                                   \
  do {                                                      \
    if (int scripted = ::standin::Hook(name)) return static_cast<int16_t>(scripted); \
  } while (0)
