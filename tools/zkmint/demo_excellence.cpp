// The Excellence 4.0 engine between two users whose keys the stand-in cryst.dll writes into the
// sandbox. The demo answers the password prompt itself; the process-wide password cache then
// serves later operations. B renews its keys, and an envelope made for B's earlier key still
// opens with "Use previous keys for decrypt". Every path parameter uses the %ZEXRoot% macro.
#include "demo_excellence.h"

#include <filesystem>
#include <fstream>

#include "callbacks.h"
#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "Excellence/4.0";
const std::string kMacroBase = "%ZEXRoot%\\EXCELLENCE\\";
const char kDemoPassword[] = "demo-key-password";

using MakeUserFn = int (*)(const char* secretDir, const char* uid, const char* password, const char* publicFile);

int g_prompts = 0;

// The demo's own password prompt: it answers the password the demo gave the keys.
int32_t ZK_STDCALL DemoPassword(char* buffer, int32_t bufferSize) {
  ++g_prompts;
  return CopyPassword(kDemoPassword, buffer, bufferSize) ? 1 : 0;
}

struct UserSpec {
  std::string letter, uid;
};
const UserSpec kUserA{"A", "BANK-CLIENT-A"};
const UserSpec kUserB{"B", "BANK-CLIENT-B"};

fs::path UserDir(const std::string& root, const UserSpec& user) {
  return fs::path(root) / "EXCELLENCE" / ("USER" + user.letter);
}

// <root>/EXCELLENCE/USERx/SECRET (the key generations), PUBLIC (correspondents) and USERx.pub.
int MakeKeys(MakeUserFn make, const std::string& root, const UserSpec& user) {
  const fs::path dir = UserDir(root, user);
  fs::create_directories(dir / "PUBLIC");
  return make((dir / "SECRET").string().c_str(), user.uid.c_str(), kDemoPassword,
              (fs::path(root) / "EXCELLENCE" / ("USER" + user.letter + ".pub")).string().c_str());
}

struct Party : DemoParty {
  Party(const DemoContext& context, const UserSpec& spec) : DemoParty(context.table, kEngineType, spec.letter), user(spec) {}
  const UserSpec& user;
};

bool OpenParty(const DemoContext& context, Party& party) {
  const std::string dir = kMacroBase + "USER" + party.user.letter + "\\";
  const std::vector<NamedValue> params = {{"Secret key directory", dir + "SECRET"},
                                          {"Public key directory", dir + "PUBLIC"}};
  if (!OpenDemoParty(context, kEngineType, party, params, "keys under " + dir, party.user.uid)) return false;
  party.engine->SetCallbacks(DemoPassword, TouchMemoryRequest);
  // The commands printed for going on by hand read the password from a file beside the keys.
  if (context.handoff != nullptr) {
    const fs::path file = fs::path(context.root) / "EXCELLENCE" / "PASSWORD.TXT";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << kDemoPassword << "\n";
    context.handoff->SetPasswordFile(kEngineType, file.string());
  }
  return true;
}

void IncludeKeyOf(Party& receiver, const Party& owner) {
  const std::string file = kMacroBase + "USER" + owner.user.letter + ".pub";
  receiver.steps.Succeeds(*receiver.engine, "IncludePublicKey (user " + owner.user.letter + ")",
                          receiver.engine->IncludePublicKey(file), file);
}

void ExchangeSignatures(Party& a, Party& b) {
  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const int before = g_prompts;
  const Bytes signature = SignAndVerify(a, b, order, "password asked");
  a.steps.Done("password prompt", "asked " + std::to_string(g_prompts - before) + " time(s), answered by the demo");
  if (!signature.empty()) VerifyTampered(b, order, signature);
  const int reused = g_prompts;
  SignAndVerify(a, b, Document("Payment order 18"), "password from the cache");
  if (g_prompts != reused) a.steps.Unexpected("password cache", "the password was asked again");
  SignAndVerify(b, a, Document("Receipt for payment order 17, signed by B."));
}

// An envelope for B's first key, opened again after B renewed its keys.
void RenewAndOpenEarlier(const DemoContext& context, MakeUserFn make, Party& a, Party& b) {
  const Bytes document = Document("Statement for account 40702810900000000017, for B's first key.");
  const Bytes envelope = EncryptAndDecrypt(a, b, document, "");
  if (envelope.empty()) return;
  Bytes damaged = envelope;
  damaged[damaged.size() / 2] ^= 0x01;
  std::string from;
  b.steps.Fails(*b.engine, "DecodeData (one bit changed)", b.engine->Decode(damaged, from), "the envelope was changed");
  const int status = MakeKeys(make, context.root, b.user);
  if (status != 0) {
    b.steps.Unexpected("renew keys", "the key writer answered " + std::to_string(status));
    return;
  }
  b.steps.Done("renew keys", "generation 2 in " + kMacroBase + "USERB\\SECRET");
  Bytes plain = envelope;
  b.steps.Fails(*b.engine, "DecodeData (earlier key, current keys)", b.engine->Decode(plain, from),
                "made for B's earlier key");
  const int32_t previous = b.engine->FindParam("Use previous keys for decrypt");
  b.engine->SetParam(previous, "-1");
  plain = envelope;
  const int32_t code = b.engine->Decode(plain, from);
  b.steps.Succeeds(*b.engine, "DecodeData (previous keys, -1)", code, "from " + from,
                   plain == document ? "" : "the decrypted data differ from the original");
  b.engine->SetParam(previous, "0");
  IncludeKeyOf(a, b);
  EncryptAndDecrypt(a, b, Document("For B's renewed key."), "");
}

void RunScenario(const DemoContext& context, MakeUserFn make, Party& a, Party& b) {
  IncludeKeyOf(a, b);
  IncludeKeyOf(b, a);
  ExchangeSignatures(a, b);
  EncryptAndDecrypt(b, a, Document("Payment order 19, encrypted for A."), "");
  RenewAndOpenEarlier(context, make, a, b);
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user B)", a.engine->RemoveCertificate(b.uid), "B's keys removed");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed B)", a.engine->Encode(data, b.uid), "B's key was removed");
  const int32_t kRecipientList = -107;
  FinishRound(a, "password cache emptied", kRecipientList);
}

}  // namespace

void RunExcellenceDemo(const DemoContext& context) {
  DemoSteps steps(context.table, kEngineType);
  zkhost::HostModule module;
  if (!OpenRoundToolkit(context, steps, kEngineType, "cryst.dll", module, {"EXC_StandIn_MakeUser"})) return;
  auto make = module.Function<MakeUserFn>("EXC_StandIn_MakeUser");
  try {
    for (const UserSpec* user : {&kUserA, &kUserB}) {
      const int status = MakeKeys(make, context.root, *user);
      if (status != 0) {
        steps.Unexpected("provision users A, B", "the key writer answered " + std::to_string(status));
        return;
      }
    }
    steps.Done("provision users A, B", kMacroBase + "{USERA,USERB}, one password for both");
    Party a(context, kUserA), b(context, kUserB);
    if (!OpenParty(context, a) || !OpenParty(context, b)) return;
    RunScenario(context, make, a, b);
  } catch (const std::exception& error) {
    steps.Unexpected("(host)", error.what());
  }
}

}  // namespace zkmint
