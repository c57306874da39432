// The Crypto-C engine between two users. A has GOST R 34.10-2001 keys, "Hash method" GOST and
// encrypts with gamma with feedback; B has GOST R 34.10-94 keys, an empty "Hash method" and
// encrypts with plain gamma. Every path parameter uses the %ZEXRoot% macro.
#include "demo_cryptoc.h"

#include <filesystem>

#include "demo_party.h"

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

struct Party : DemoParty {
  Party(const DemoContext& context, const UserSpec& spec) : DemoParty(context.table, kEngineType, spec.letter), user(spec) {}
  const UserSpec& user;
};

bool OpenParty(const DemoContext& context, Party& party) {
  const std::string dir = kMacroBase + UserDir(party.user) + "\\";
  const std::vector<NamedValue> params = {
      {"User PKey/Certificate", dir + "self.pub"}, {"User Secret key", dir + "self.sec"},
      {"Abonents dir", dir + "ABONENTS"},          {"CA dir", dir + "CA"},
      {"Encrypt Method", party.user.method},       {"Hash method", party.user.hash}};
  const std::string summary = "keys under " + dir + ", method " + party.user.method + ", hash '" + party.user.hash + "'";
  return OpenDemoParty(context, kEngineType, party, params, summary, party.user.uid);
}

// Signatures and envelopes between the two, with the refusals a changed document and an
// envelope for someone else must meet.
void SignBothWays(Party& a, Party& b, const Bytes& order) {
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) VerifyTampered(b, order, signature);
  const Bytes receipt = Document("Receipt for payment order 17, signed by B.");
  const Bytes reply = SignAndVerify(b, a, receipt);
  if (!reply.empty()) VerifyTampered(a, receipt, reply);
}

void EncryptBothWays(Party& a, Party& b) {
  const Bytes forB = EncryptAndDecrypt(a, b, Document("Payment order 18: 250.00 RUB, encrypted for B."), "");
  if (!forB.empty()) DecodeForeign(a, forB, b.letter);
  const Bytes forA = EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."), "");
  if (!forA.empty()) DecodeForeign(b, forA, a.letter);
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
  SignBothWays(a, b, Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017."));
  EncryptBothWays(a, b);

  a.steps.Succeeds(*a.engine, "UpdateCertificateCash (user B)", a.engine->UpdateCertificateCash(b.uid),
                   "B's key read again");
  a.steps.Fails(*a.engine, "RemoveCertificate (own UID)", a.engine->RemoveCertificate(a.uid),
                "the own key cannot be removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid), "B's key deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid), "B's key was removed");
  const int32_t kEnvelopeForOther = -17;
  FinishRound(a, "keys and caches dropped", kEnvelopeForOther);
}

}  // namespace

void RunCryptoCDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  zkhost::HostModule module;
  if (!OpenRoundToolkit(context, steps, kEngineType, "libcrypt.dll", module, {"CrypC_StandIn_WriteKeyFiles"})) return;
  auto write = module.Function<WriteKeyFilesFn>("CrypC_StandIn_WriteKeyFiles");
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
