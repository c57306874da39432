// Demo material for the CryptoAPI engines, made by the CryptoAPI itself: keys generated in key
// containers, a CA certificate and user certificates signed with CryptSignAndEncodeCertificate,
// the CA put into the system ROOT store. Everything it puts into the system it takes out again.
// The stand-in CryptoAPI of Linux makes the keys and certificates through its own provisioning
// call (GOST ones for its Crypto-Pro providers).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zk_loader.h"

namespace zkmint {

using Bytes = std::vector<uint8_t>;

class CapiKit {
 public:
  CapiKit();
  ~CapiKit();  // removes the containers it made and the CA it trusted
  CapiKit(const CapiKit&) = delete;
  CapiKit& operator=(const CapiKit&) = delete;

  // Loads advapi32.dll and crypt32.dll (the system's, or on Linux the stand-in's from the demo's
  // toolkit folder);
  // false with the reason when they or a function the kit needs are missing.
  bool Open(std::string& error);
  // Chooses the provider keys are made in: the first of the types that takes a new container.
  bool UseProvider(const std::string& name, const std::vector<uint32_t>& types, const std::string& signatureOid,
                   std::string& error);

  // A fresh exchange key in `container`. The CA signs with its own key ("self-issued").
  bool MakeKey(const std::string& container, std::string& error);
  // Where the certificates are written; the stand-in keeps its containers and system stores
  // there too.
  void SetScratchDirectory(const std::string& dir);
  // The DER certificate of `subject` (a common name) for the key in `container`, issued by the
  // key in `issuerContainer` under the name `issuer`. A CA gets keyCertSign and cRLSign.
  bool Issue(const std::string& issuerContainer, const std::string& issuer, const std::string& container,
             const std::string& subject, uint8_t serial, bool ca, Bytes& der, std::string& error);
  bool TrustRoot(const Bytes& der, std::string& error);

 private:
  struct Api;
  struct Kit;  // the stand-in's own provisioning call, where it makes the material
  bool MakeKitKey(const std::string& container, std::string& error);
  bool IssueWithKit(const std::string& issuerContainer, const std::string& issuer, const std::string& container,
                    const std::string& subject, uint8_t serial, bool ca, Bytes& der, std::string& error);
  std::unique_ptr<Api> api_;
  std::unique_ptr<Kit> kit_;
  std::string scratch_;
  zkhost::HostModule advapi32_, crypt32_;
  std::string provider_, signatureOid_;
  uint32_t type_ = 0;
  std::vector<std::string> containers_;
  Bytes trusted_;
};

// The DER Name { CN=commonName, O="zkmint demo" }.
Bytes DemoName(const std::string& commonName);

}  // namespace zkmint
