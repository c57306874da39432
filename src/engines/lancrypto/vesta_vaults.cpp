// Correspondents' public keys: added to the signature vault, removed from both vaults.
#include "engines/lancrypto/vesta_internal.h"

namespace zk::lancrypto {

int32_t TVestaDLL::CreateVaultIfMissing(ContextFamily family, void* ctx, const std::string& Vault) {
  if (platform::IsFile(Vault)) return kCtOk;
  auto create = family == ContextFamily::Notary ? api_.CTN_CreateVaultFile : api_.CTV_CreateVaultFile;
  if (create == nullptr) return kCtCreateVault;
  return Locked(create, ctx, Vault.c_str());
}

int32_t TVestaDLL::AddPublicKeyToVault(const std::string& PublicKeyFile, const std::string& Vault) {
  if (!LibLoaded) return kBindNoLibrary;
  ContextHandle ctx(api_, ContextFamily::Notary);
  if (!ctx.Construct()) return kBindNoMemory;
  // The vault changes (or may have changed): the next verification reads it again.
  ForgetVerification();
  const std::string vault = OrDefault(Vault, kDefaultSignVault);
  int32_t code = Locked(api_.CTN_ReadPublicKeyFile, ctx.get(), PublicKeyFile.c_str());
  if (code != kCtOk) {
    code = api_.CTN_ReadFullPublicKeyFile != nullptr
               ? Locked(api_.CTN_ReadFullPublicKeyFile, ctx.get(), PublicKeyFile.c_str())
               : kCtNoPublicKey;
  }
  if (code == kCtOk) code = CreateVaultIfMissing(ContextFamily::Notary, ctx.get(), vault);
  if (code == kCtOk) code = Locked(api_.CTN_RetrieveInfoFromVault, ctx.get(), vault.c_str());
  if (code == kCtOk) code = Locked(api_.CTN_WritePublicKeyToVault, ctx.get(), vault.c_str());
  return code;
}

int32_t TVestaDLL::FindInVault(ContextFamily family, void* ctx, const std::string& Vault, int32_t Method,
                               const std::string& UID, std::string& ShortName) {
  const bool notary = family == ContextFamily::Notary;
  int32_t code = CreateVaultIfMissing(family, ctx, Vault);
  if (code == kCtOk) {
    code = notary ? Locked(api_.CTN_RetrieveInfoFromVault, ctx, Vault.c_str())
                  : Locked(api_.CTV_RetrieveInfoFromVault, ctx, Vault.c_str());
  }
  if (code != kCtOk) return code;
  const uint8_t* bytes = static_cast<const uint8_t*>(ctx);
  const int uidAt = notary ? kSignOwnerUID : kVestaEntryUID;
  const int shortAt = notary ? kSignShortName : kVestaShortName;
  const int maskAt = notary ? kSignMethodMask : kVestaMethodMask;
  for (bool first = true;; first = false) {
    code = notary ? Locked(first ? api_.CTN_FindFirstPublicKeyInVault : api_.CTN_FindNextPublicKeyInVault, ctx)
                  : Locked(first ? api_.CTV_FindFirstPublicKeyInVault : api_.CTV_FindNextPublicKeyInVault, ctx);
    if (code == kCtUnknownUser || code == kCtNoVault) return kCtOk;  // the end of the vault
    if (code != kCtOk) return code;
    if (FieldText(bytes + uidAt, kUIDChars) == UID && (ReadLE32(bytes + maskAt) & static_cast<uint32_t>(Method)) != 0) {
      ShortName = FieldText(bytes + shortAt, kShortNameChars);
      return kCtOk;
    }
  }
}

int32_t TVestaDLL::RemovePublicKey(const std::string& SignVault, const std::string& EncryptVault,
                                   int32_t EncryptMethod, int32_t SignMethod, const std::string& UID) {
  if (!LibLoaded) return kBindNoLibrary;
  ContextHandle vesta(api_, ContextFamily::Vesta), sign(api_, ContextFamily::Notary);
  if (!vesta.Construct() || !sign.Construct()) return kBindNoMemory;
  ForgetVerification();
  const std::string encryptVault = OrDefault(EncryptVault, kDefaultEncryptVault);
  const std::string signVault = OrDefault(SignVault, kDefaultSignVault);
  std::string vestaShort, signShort;
  int32_t code = FindInVault(ContextFamily::Vesta, vesta.get(), encryptVault, EncryptMethod, UID, vestaShort);
  if (code == kCtOk) code = FindInVault(ContextFamily::Notary, sign.get(), signVault, SignMethod, UID, signShort);
  if (code != kCtOk) return code;
  // Only a removal that happened, or found nothing left to remove, counts as success.
  auto settled = [](int32_t r) { return r == kCtOk || r == kCtUnknownUser ? kCtOk : r; };
  if (!vestaShort.empty()) {
    code = settled(Locked(api_.CTV_RemovePublicKeyFromVault, vesta.get(), vestaShort.c_str(), encryptVault.c_str()));
    if (code != kCtOk) return code;
  }
  if (!signShort.empty()) {
    code = settled(Locked(api_.CTN_RemovePublicKeyFromVault, sign.get(), signShort.c_str(), signVault.c_str()));
  }
  return code;
}

}  // namespace zk::lancrypto
