// The Validata engine between three users whose certificates one authority issued. A takes B's
// and C's certificates into its local store, signs for B, asks for the signer's certificate
// report and PEM, encrypts for B and for B and C together, and meets the refusals: a changed
// document, an envelope not meant for the reader, a correspondent revoked by a CRL. Paths use
// %ZEXRoot% (which the engine upper-cases, as the toolkit expects).
#include "demo_validata.h"

#include <filesystem>

#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

const std::string kEngineType = "Validata Crypto Engine";
const std::string kMacroBase = "%ZEXRoot%\\VALIDATA\\";
const char* const kLetters[] = {"A", "B", "C"};

using MakeCaFn = int (*)(const char*, const char*);
using MakePseFn = int (*)(const char*, const char*, const char*, uint32_t, const char*, int64_t, int64_t, const char*,
                          const char*, int32_t);
using MakeCrlFn = int (*)(const char*, const char*, const char*, int32_t);

std::string UserDir(const std::string& letter) { return kMacroBase + "USER" + letter + "\\"; }

// <root>/VALIDATA/{CA,USERx/{local.pse,x.cer}}; B's certificate in PEM, the others in DER.
std::string Provision(zkhost::HostModule& module, const std::string& root) {
  auto makeCa = module.Function<MakeCaFn>("VCERT_StandIn_MakeCa");
  auto makePse = module.Function<MakePseFn>("VCERT_StandIn_MakePse");
  auto makeCrl = module.Function<MakeCrlFn>("VCERT_StandIn_MakeCrl");
  if (!makeCa || !makePse || !makeCrl) return "cpki1.dll lacks its provisioning exports";
  const fs::path base = fs::path(root) / "VALIDATA";
  fs::create_directories(base / "CA");
  if (makeCa((base / "CA").string().c_str(), "C=RU,O=Demo Bank,CN=Demo Root") != 0) return "no authority";
  int serial = 1;
  for (const char* letter : kLetters) {
    const fs::path dir = base / ("USER" + std::string(letter));
    fs::create_directories(dir);
    const std::string subject = std::string("C=RU,O=Demo Bank,CN=") + letter;
    const std::string hex = "10" + std::to_string(serial++);
    if (makePse((base / "CA").string().c_str(), subject.c_str(), hex.c_str(), 0xA0, "1.3.6.1.5.5.7.3.4", -86400,
                365 * 86400, (dir / "local.pse").string().c_str(), (dir / (std::string(letter) + ".cer")).string().c_str(),
                std::string(letter) == "B") != 0)
      return std::string("user ") + letter + " could not be issued";
  }
  const fs::path c = base / "USERC" / "C.cer";
  if (makeCrl((base / "CA").string().c_str(), c.string().c_str(), (base / "revoked-c.crl").string().c_str(), 1) != 0)
    return "no CRL";
  return std::string();
}

bool OpenParty(const DemoContext& context, DemoParty& party) {
  const std::string dir = UserDir(party.letter);
  const std::vector<NamedValue> params = {{"PSE", dir + "local.pse"}, {"LocalStore", dir + "local.store"}};
  return OpenDemoParty(context, kEngineType, party, params, "PSE and store under " + dir, party.letter);
}

void Include(DemoParty& holder, const DemoParty& owner) {
  const std::string file = UserDir(owner.letter) + owner.letter + ".cer";
  holder.steps.Succeeds(*holder.engine, "IncludePublicKey (user " + owner.letter + ")",
                        holder.engine->IncludePublicKey(file), owner.letter + ".cer -> local store");
}

void Reports(DemoParty& a, DemoParty& b, const Bytes& document, const Bytes& signature) {
  std::string report;
  int32_t code = b.engine->Verify(document, signature, report, "GetCertificateProperties_OnSuccess");
  size_t lines = 0;
  for (size_t at = report.find("\r\n"); at != std::string::npos; at = report.find("\r\n", at + 2)) ++lines;
  b.steps.Succeeds(*b.engine, "VerifyData (certificate properties)", code, std::to_string(lines) + " report lines",
                   code == 0 && report.find("\r\nCN=" + a.uid + "\r\n") == std::string::npos ? "no subject line" : "");
  code = b.engine->Verify(document, signature, report, "GetCertificate_OnSuccess");
  b.steps.Succeeds(*b.engine, "VerifyData (certificate PEM)", code, std::to_string(report.size()) + " characters",
                   code == 0 && report.rfind("-----BEGIN CERTIFICATE-----\r\n", 0) != 0 ? "no PEM armour" : "");
}

void EncryptForTwo(DemoParty& a, DemoParty& b, DemoParty& c) {
  const Bytes order = Document("Payment order 19: 75.00 RUB, for B and C alike.");
  Bytes envelope = order;
  int32_t code = a.engine->Encode(envelope, b.uid + ";" + c.uid);
  if (!a.steps.Succeeds(*a.engine, "EncodeData (for B and C)", code, std::to_string(envelope.size()) + "-byte CMS envelope"))
    return;
  for (DemoParty* reader : {&b, &c}) {
    Bytes plain = envelope;
    std::string from;
    code = reader->engine->Decode(plain, from);
    reader->steps.Succeeds(*reader->engine, "DecodeData (from A)", code, std::to_string(plain.size()) + " bytes",
                           plain == order ? "" : "the decrypted data differ from the original");
  }
}

void RunScenario(DemoParty& a, DemoParty& b, DemoParty& c) {
  Include(a, b);
  Include(a, c);
  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) {
    VerifyTampered(b, order, signature);
    Reports(a, b, order, signature);
  }
  const Bytes envelope = EncryptAndDecrypt(a, b, order, "");
  if (!envelope.empty()) DecodeForeign(c, envelope, "B");
  EncryptForTwo(a, b, c);
  a.steps.Succeeds(*a.engine, "IncludeCRL (revoking C)", a.engine->IncludeCRL(kMacroBase + "revoked-c.crl"),
                   "stored in A's local store");
  Bytes data = Document("After the revocation");
  a.steps.Fails(*a.engine, "EncodeData (for revoked C)", a.engine->Encode(data, c.uid), "C's certificate is revoked");
  const int32_t kNoCertificate = -5;
  FinishRound(a, "bindings released, toolkit contexts closed", kNoCertificate);
}

}  // namespace

void RunValidataDemo(const DemoContext& context) {
  RunThreePartyRound(context,
                     {kEngineType, "cpki1.dll", kMacroBase + "{CA,USERA,USERB,USERC}", Provision, OpenParty, RunScenario});
}

}  // namespace zkmint
