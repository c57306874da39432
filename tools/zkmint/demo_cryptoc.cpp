// The Crypto-C engine between two users. A has GOST R 34.10-2001 keys, "Hash method" GOST and
// encrypts with gamma with feedback; B has GOST R 34.10-94 keys, an empty "Hash method" and
// encrypts with plain gamma. Every path parameter uses the %ZEXRoot% macro.
#include "demo_cryptoc.h"

#include <filesystem>
#include <memory>

#include "callbacks.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "Crypto-C";
const std::string kMacroBase = "%ZEXRoot%\\CRYPTOC\\";

using WriteKeyFilesFn = int (*)(int type, const char* uid, const char* secretKeyPath, const char* publicKeyPath);

struct UserSpec {
  std::string letter, uid;
  int keyType;  // 0 GOST R 34.10-94, 1 GOST R 34.10-2001
  std::string method, hash;
};

const UserSpec kUserA{"A", "Bank client A", 1, "1", "GOST"};
const UserSpec kUserB{"B", "Bank client B", 0, "0", ""};

std::string UserDir(const UserSpec& user) { return "USER" + user.letter; }

// <root>/CRYPTOC/USERx/self.sec, self.pub and an empty ABONENTS/ that IncludePublicKey fills.
int Provision(WriteKeyFilesFn write, const std::string& root) {
  for (const UserSpec* user : {&kUserA, &kUserB}) {
    const fs::path dir = fs::path(root) / "CRYPTOC" / UserDir(*user);
    fs::create_directories(dir / "ABONENTS");
    fs::create_directories(dir / "CA");
    const int status = write(user->keyType, user->uid.c_str(), (dir / "self.sec").string().c_str(),
                             (dir / "self.pub").string().c_str());
    if (status != 0) return status;
  }
  return 0;
}

struct Party {
  Party(const DemoContext& context, const UserSpec& spec)
      : user(spec), steps(context.table, kEngineType + " (user " + spec.letter + ")") {}
  const UserSpec& user;
  DemoSteps steps;
  std::unique_ptr<Engine> engine;
  std::string uid;
};

bool OpenParty(const DemoContext& context, Party& party) {
  party.engine = Engine::Create(context.api, kEngineType);
  if (!party.engine) {
    party.steps.Unexpected("InitCryptoEngine", "returned null after succeeding before");
    return false;
  }
  party.engine->SetRootPath(context.root);
  party.engine->SetCallbacks(PasswordRequest, TouchMemoryRequest);
  const std::string dir = kMacroBase + UserDir(party.user) + "\\";
  const std::vector<NamedValue> params = {
      {"User PKey/Certificate", dir + "self.pub"}, {"User Secret key", dir + "self.sec"},
      {"Abonents dir", dir + "ABONENTS"},          {"CA dir", dir + "CA"},
      {"Encrypt Method", party.user.method},       {"Hash method", party.user.hash}};
  const std::string summary = "keys under " + dir + ", method " + party.user.method + ", hash '" + party.user.hash + "'";
  if (!SetParamsByName(*party.engine, party.steps, params, summary)) return false;
  const int32_t code = party.engine->CurrentUID(party.uid);
  return party.steps.Succeeds(*party.engine, "GetCurrentUserUID", code, "UID " + party.uid,
                              code == 0 && party.uid != party.user.uid ? "UID reported as " + party.uid : "");
}

Bytes Document(const std::string& text) { return Bytes(text.begin(), text.end()); }

void SignAndVerify(Party& signer, Party& verifier, Bytes document) {
  Bytes signature;
  int32_t code = signer.engine->Sign(document, "", signature);
  if (!signer.steps.Succeeds(*signer.engine, "SignData", code, std::to_string(signature.size()) + "-byte signature"))
    return;
  std::string name;
  code = verifier.engine->Verify(document, signature, name);
  verifier.steps.Succeeds(*verifier.engine, "VerifyData (signed by " + signer.user.letter + ")", code, "signer " + name,
                          code == 0 && name != signer.uid ? "signer reported as " + name : "");
  document[document.size() / 2] ^= 0x01;
  verifier.steps.Fails(*verifier.engine, "VerifyData (one bit of data changed)",
                       verifier.engine->Verify(document, signature, name), "the data were changed");
}

void EncryptAndDecrypt(Party& sender, Party& recipient, const Bytes& document) {
  std::string recipientUID;
  int32_t code = sender.engine->EncodeUID(recipient.uid, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "GetEncodeUIDBySignUID", code, recipient.uid + " -> " + recipientUID))
    return;
  Bytes envelope = document;
  code = sender.engine->Encode(envelope, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "EncodeData (for " + recipient.user.letter + ")", code,
                             std::to_string(envelope.size()) + "-byte envelope"))
    return;
  Bytes foreign = envelope;
  std::string from;
  sender.steps.Fails(*sender.engine, "DecodeData (envelope for " + recipient.user.letter + ")",
                     sender.engine->Decode(foreign, from), "the envelope is for another user");
  Bytes plain = envelope;
  code = recipient.engine->Decode(plain, from);
  recipient.steps.Succeeds(*recipient.engine, "DecodeData (from " + sender.user.letter + ")", code,
                           std::to_string(plain.size()) + " bytes, equal to the original",
                           plain == document ? "" : "the decrypted data differ from the original");
}

void IncludeKeyOf(Party& receiver, const Party& owner) {
  const std::string file = kMacroBase + UserDir(owner.user) + "\\self.pub";
  receiver.steps.Succeeds(*receiver.engine, "IncludePublicKey (user " + owner.user.letter + ")",
                          receiver.engine->IncludePublicKey(file), file);
}

void RunScenario(Party& a, Party& b) {
  IncludeKeyOf(a, b);
  IncludeKeyOf(b, a);
  a.steps.Fails(*a.engine, "IncludePublicKey (own key)", a.engine->IncludePublicKey(kMacroBase + "USERA\\self.pub"),
                "the own key is not a correspondent");
  SignAndVerify(a, b, Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017."));
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."));
  EncryptAndDecrypt(a, b, Document("Payment order 18: 250.00 RUB, encrypted for B."));
  EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."));

  a.steps.Succeeds(*a.engine, "UpdateCertificateCash (user B)", a.engine->UpdateCertificateCash(b.uid),
                   "B's key read again");
  a.steps.Fails(*a.engine, "RemoveCertificate (own UID)", a.engine->RemoveCertificate(a.uid),
                "the own key cannot be removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid), "B's key deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid), "B's key was removed");
  a.engine->ClearCash();
  a.steps.Done("ClearCash", "keys and caches dropped");
  std::string uid;
  const int32_t code = a.engine->CurrentUID(uid);
  a.steps.Succeeds(*a.engine, "GetCurrentUserUID (after ClearCash)", code, "UID " + uid,
                   code == 0 && uid != a.uid ? "UID changed to " + uid : "");
  const std::string text = a.engine->ErrorText(-17);
  if (text.empty())
    a.steps.Unexpected("GetCryptoErrorString(-17)", "empty text");
  else
    a.steps.Done("GetCryptoErrorString(-17)", text);
}

}  // namespace

void RunCryptoCDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  if (!Engine::Create(context.api, kEngineType)) {
    steps.NotAvailable("InitCryptoEngine", "the library builds no Crypto-C engine");
    return;
  }
  const std::string standIn = zkhost::ExecutableDirectory() + "libcrypt.dll";
  zkhost::HostModule module;
  std::string loadError;
  auto write =
      module.Open(standIn, loadError) ? module.Function<WriteKeyFilesFn>("CrypC_StandIn_WriteKeyFiles") : nullptr;
  if (write == nullptr) {
    steps.NotAvailable("provisioning", "no stand-in key writer in " + standIn);
    return;
  }
  try {
    const int status = Provision(write, context.root);
    if (status != 0) {
      steps.Unexpected("provision users A, B", "the key writer answered " + std::to_string(status));
      return;
    }
    steps.Done("provision users A, B", kMacroBase + "{USERA,USERB}");
    Party a(context, kUserA), b(context, kUserB);
    if (!OpenParty(context, a) || !OpenParty(context, b)) return;
    RunScenario(a, b);
  } catch (const std::exception& error) {
    steps.Unexpected("(host)", error.what());
  }
}

}  // namespace zkmint
