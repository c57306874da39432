// The LAN Crypto engine between two users. Their key files are password-protected; the demo
// answers the prompt from a password file in the sandbox, and the password is then kept for the
// "Password/TM Request Time Out". Signature vaults are filled through IncludePublicKey; the
// encryption vaults, which the engine never writes, by the stand-in. Paths use %ZEXRoot%.
#include "demo_lancrypto.h"

#include <filesystem>
#include <fstream>

#include "callbacks.h"
#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "LAN Crypto/2.35";
const std::string kMacroBase = "%ZEXRoot%\\LANCRYPTO\\";
const std::string kPassword = "demo password";

using MakeUserFn = int (*)(const char*, const char*, const char*, const char*, const char*, const char*, const char*,
                           int);
using AddToVaultFn = int (*)(const char* fullPub, const char* vault);

struct UserSpec {
  std::string letter, uid, shortName, method;
};
const UserSpec kUserA{"A", "Bank client A", "CLIENTA", "16"};
const UserSpec kUserB{"B", "Bank client B", "CLIENTB", "1"};

fs::path UserDir(const std::string& root, const UserSpec& user) { return fs::path(root) / "LANCRYPTO" / ("USER" + user.letter); }

// Key files and public files of A and B; each encryption vault knows both users.
int Provision(MakeUserFn make, AddToVaultFn add, const std::string& root) {
  for (const UserSpec* user : {&kUserA, &kUserB}) {
    const fs::path dir = UserDir(root, *user);
    fs::create_directories(dir);
    const int status = make(user->uid.c_str(), user->shortName.c_str(), kPassword.c_str(),
                            (dir / "sign0000.000").string().c_str(), (dir / "priv0000.000").string().c_str(),
                            (dir / "sign.pub").string().c_str(), (dir / "full.pub").string().c_str(), 0);
    if (status != 0) return status;
  }
  for (const UserSpec* holder : {&kUserA, &kUserB}) {
    for (const UserSpec* owner : {&kUserA, &kUserB}) {
      const int status = add((UserDir(root, *owner) / "full.pub").string().c_str(),
                             (UserDir(root, *holder) / "ves512.vlt").string().c_str());
      if (status != 0) return status;
    }
  }
  std::ofstream(fs::path(root) / "LANCRYPTO" / "password.txt") << kPassword << "\n";
  return 0;
}

struct Party : DemoParty {
  Party(const DemoContext& context, const UserSpec& spec) : DemoParty(context.table, kEngineType, spec.letter), user(spec) {}
  const UserSpec& user;
};

bool OpenParty(const DemoContext& context, Party& party) {
  const std::string dir = kMacroBase + "USER" + party.user.letter + "\\";
  const std::vector<NamedValue> params = {
      {"Sign private key", dir + "sign0000.000"}, {"Sign vault", dir + "not512.vlt"},
      {"Sign UID", party.user.uid},               {"Encrypt private key", dir + "priv0000.000"},
      {"Encrypt vault", dir + "ves512.vlt"},      {"Encrypt UID", party.user.uid},
      {"Encrypt method", party.user.method},      {"Password/TM Request Time Out", "60"}};
  const std::string summary = "keys and vaults under " + dir + ", encrypt method " + party.user.method;
  return OpenDemoParty(context, kEngineType, party, params, summary, party.user.uid);
}

void IncludeKeyOf(Party& receiver, const Party& owner) {
  const std::string file = kMacroBase + "USER" + owner.user.letter + "\\full.pub";
  receiver.steps.Succeeds(*receiver.engine, "IncludePublicKey (user " + owner.user.letter + ")",
                          receiver.engine->IncludePublicKey(file), file + " into the signature vault");
}

void RunScenario(Party& a, Party& b) {
  IncludeKeyOf(a, b);
  IncludeKeyOf(b, a);
  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const Bytes signature = SignAndVerify(a, b, order, "password from the prompt");
  if (!signature.empty()) VerifyTampered(b, order, signature);
  const Bytes receipt = Document("Receipt for payment order 17, signed by B.");
  const Bytes reply = SignAndVerify(b, a, receipt);
  if (!reply.empty()) VerifyTampered(a, receipt, reply);

  const Bytes forB = EncryptAndDecrypt(a, b, Document("Payment order 18: 250.00 RUB, encrypted for B."), "feedback");
  if (!forB.empty()) DecodeForeign(a, forB, b.letter);
  const Bytes forA = EncryptAndDecrypt(b, a, Document("Statement for account 40702810900000000017."), "gamma");
  if (!forA.empty()) DecodeForeign(b, forA, a.letter);

  a.steps.Fails(*a.engine, "RemoveCertificate (own UID)", a.engine->RemoveCertificate(a.uid),
                "the own key cannot be removed");
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid),
                   "B's keys removed from both vaults");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid), "B's key was removed");
  const int32_t kWrongPassword = -2;
  FinishRound(a, "touch-memory key cache emptied", kWrongPassword);
}

}  // namespace

void RunLanCryptoDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  zkhost::HostModule module;
  if (!OpenRoundToolkit(context, steps, kEngineType, "ct512.dll", module,
                        {"CT_StandIn_MakeUser", "CT_StandIn_AddToEncryptVault"})) {
    return;
  }
  auto make = module.Function<MakeUserFn>("CT_StandIn_MakeUser");
  auto add = module.Function<AddToVaultFn>("CT_StandIn_AddToEncryptVault");
  const std::string hostPasswordFile = PasswordFile();
  try {
    const int status = Provision(make, add, context.root);
    if (status != 0) {
      steps.Unexpected("provision users A, B", "the key writer answered " + std::to_string(status));
      return;
    }
    steps.Done("provision users A, B", kMacroBase + "{USERA,USERB}, password in password.txt");
    // The password prompt of this round is answered from the sandbox.
    const std::string passwordFile = (fs::path(context.root) / "LANCRYPTO" / "password.txt").string();
    SetPasswordFile(passwordFile);
    if (context.handoff) context.handoff->SetPasswordFile(kEngineType, passwordFile);
    Party a(context, kUserA), b(context, kUserB);
    if (OpenParty(context, a) && OpenParty(context, b)) RunScenario(a, b);
  } catch (const std::exception& error) {
    steps.Unexpected("(host)", error.what());
  }
  SetPasswordFile(hostPasswordFile);
}

}  // namespace zkmint
