// How an engine joins the conformance suite: one Provisioner, registered with
// ZK_SUITE_PROVISIONER. It lays out a sandbox of users with keys, configures engines to act as one
// of them, and states what the engine supports; the suite (tests/conformance) runs every case
// whose capabilities the engine has. See tests/README.md.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zk_mint.h"

namespace zk::suite {

// What DecodeData writes into SenderUID on success.
enum class SenderReport {
  kUntouched,  // nothing: the engine cannot tell
  kEmpty,      // an empty string
  kUid,        // the UID of the user who encrypted, as GetEncodeUIDBySignUID names it
};

struct Capabilities {
  // SignData makes a signature that VerifyData checks; false: signatures are empty and every
  // verification succeeds (the emulation engine).
  bool signatures = true;
  // EncodeData encrypts for recipients and DecodeData needs the recipient's key; false: the data
  // passes unchanged.
  bool encryption = true;
  // Most recipients one envelope may name (1: a single recipient only).
  int maxRecipients = 1;
  // A change to an envelope is detected, or leaves the plain text exactly as it was (a field the
  // format does not authenticate, such as a sender's name that nobody reads); false: changed
  // cipher text may decrypt to other data.
  bool authenticatedEnvelope = true;
  SenderReport sender = SenderReport::kUntouched;
  // The parameter that selects the envelope's cipher and the values the envelope cases go through
  // (empty: the engine's default only).
  std::string methodParam;
  std::vector<std::string> methods;
  // The codes a cut-short signature or envelope may give; null: any code with a text.
  std::function<bool(int32_t)> truncatedSignatureCode;
  std::function<bool(int32_t)> truncatedEnvelopeCode;
  // SignData signs data of length 0; false: it refuses it with a code.
  bool signsEmptyData = true;
  // EncodeData and DecodeData take data of length 0; false: they refuse it with a code.
  bool encryptsEmptyData = true;
  // Cipher block size in bytes; the round trips use block-1, block and block+1.
  int blockSize = 8;
  // IncludePublicKey and RemoveCertificate manage correspondents' keys (Provisioner::PublicKeyFile).
  bool keyManagement = false;
  // IncludeCRL takes the file Provisioner::CrlFile.
  bool crls = false;

  // Fault injection through the stand-in's control entry ("fail <function> <k> <code>"): the
  // stand-in's file name as the engine loads it ("libcrypt.dll"), its folder under toolkits/
  // (which holds exports.txt, the names the suite may fail) and the code to script. Empty
  // toolkit: the engine has no stand-in and the suite injects on-disk faults only.
  std::string toolkit;
  std::string toolkitFolder;
  int faultCode = 0;
  // Toolkit functions whose failure an operation may survive (release calls): a fault there may
  // end in success, but then with a correct result.
  std::vector<std::string> survivable;
};

class Provisioner {
 public:
  virtual ~Provisioner() = default;

  // The type string InitCryptoEngine builds the engine from.
  virtual std::string EngineType() const = 0;
  virtual Capabilities Caps() const = 0;

  // Lays out, under `root` (an empty directory), keys for the users "alice", "bob" and "carol",
  // who know each other's public keys, and "stranger", whose keys nobody else knows.
  virtual void Provision(const std::string& root) = 0;
  // Sets the engine's parameters so that it works as `user`.
  virtual void Configure(ZkEngine engine, const std::string& user) const = 0;
  // The UID of `user` as GetCurrentUserUID, VerifyData and RecipientUIDs name it.
  virtual std::string Uid(const std::string& user) const = 0;

  // Makes `count` more correspondents, known to alice, bob and carol, with the longest UIDs the
  // engine accepts (and, where the engine allows a choice, its largest keys); returns their UIDs
  // in the form RecipientUIDs takes them.
  virtual std::vector<std::string> AddLargestCorrespondents(int count) = 0;

  // With Capabilities::keyManagement: the file IncludePublicKey takes to make `user` known.
  virtual std::string PublicKeyFile(const std::string& user) const { return std::string(); }
  // With Capabilities::crls: a valid revocation list file for IncludeCRL.
  virtual std::string CrlFile() const { return std::string(); }

  // Files that must survive any failure whole: keys, certificates, CRLs. Default: every file
  // under the root given to Provision.
  virtual std::vector<std::string> KeptFiles() const;
  // Files an operation of `user` reads (secret key, own certificate or public key), for the
  // on-disk faults: each is removed, then truncated, in turn.
  virtual std::vector<std::string> UserFiles(const std::string& user) const = 0;

 protected:
  std::string root_;
};

using ProvisionerFactory = std::function<std::unique_ptr<Provisioner>()>;

struct ProvisionerEntry {
  std::string name;  // a C identifier, shown in test names
  ProvisionerFactory make;
};

std::vector<ProvisionerEntry>& Provisioners();
bool RegisterProvisioner(const std::string& name, ProvisionerFactory make);

}  // namespace zk::suite

// Registers a provisioner class with a default constructor under `name` (a C identifier).
#define ZK_SUITE_PROVISIONER(name, Class)                                        \
  static const bool zk_suite_registered_##name = ::zk::suite::RegisterProvisioner( \
      #name, [] { return std::unique_ptr<::zk::suite::Provisioner>(new Class()); })
