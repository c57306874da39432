// The CryptoAPI engines between three users of one CA, with keys and certificates the system's
// CryptoAPI makes itself (demo_capi_kit.cpp). A takes B's and C's certificates into its
// directory, signs for B (who asks for the certificate report and PEM), encrypts for B and for B
// and C together, and meets the refusals: a changed document, an envelope for someone else, its
// own UID offered as a correspondent, a removed correspondent. The keys and the CA leave the
// system again at the end of the round. Paths use %ZEXRoot%.
#include "demo_capi.h"

#include <filesystem>
#include <fstream>

#include "demo_capi_kit.h"
#include "demo_party.h"

namespace zkmint {
namespace {

namespace fs = std::filesystem;

struct Flavour {
  std::string engineType, folder, provider, signatureOid;
  std::vector<uint32_t> providerTypes;
  std::vector<NamedValue> algorithms;
};

const Flavour kMs{"Ms Crypto API 2.0",
                  "CAPI20",
                  "Microsoft Base Cryptographic Provider v1.0",
                  "1.2.840.113549.1.1.5",
                  {1},
                  {{"Hash Algorithm", "SHA1"}, {"Encrypt Algorithm", "DESCBC"}}};
// The engine's own defaults: GOST R 34.11-94 and GOST 28147-89.
const Flavour kPro{"CryptoPro CSP/1.1",
                   "CSP11",
                   "Crypto-Pro Cryptographic Service Provider",
                   "1.2.643.2.2.3",
                   {75, 71, 2},
                   {}};

const char* const kLetters[] = {"A", "B", "C"};

std::string Container(const Flavour& f, const std::string& letter) { return "ZKMINT-" + f.folder + "-" + letter; }
std::string MacroBase(const Flavour& f) { return "%ZEXRoot%\\" + f.folder + "\\"; }

void WriteDer(const fs::path& path, const Bytes& der) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(der.data()),
                                              static_cast<std::streamsize>(der.size()));
}

// <root>/<folder>/{CA/ca.cer, USERx/self.cer, USERx/ABONENTS/}; keys in containers ZKMINT-<folder>-x.
std::string Provision(CapiKit& kit, const Flavour& f, const std::string& root) {
  std::string error;
  const fs::path base = fs::path(root) / f.folder;
  fs::create_directories(base / "KEYS");
  kit.SetScratchDirectory((base / "KEYS").string());
  if (!kit.UseProvider(f.provider, f.providerTypes, f.signatureOid, error)) return error;
  Bytes ca;
  const std::string caContainer = Container(f, "CA");
  if (!kit.MakeKey(caContainer, error) ||
      !kit.Issue(caContainer, "zkmint demo CA", caContainer, "zkmint demo CA", 1, true, ca, error) ||
      !kit.TrustRoot(ca, error))
    return error;
  WriteDer(base / "CA" / "ca.cer", ca);
  uint8_t serial = 0x10;
  for (const char* letter : kLetters) {
    Bytes cert;
    if (!kit.MakeKey(Container(f, letter), error) ||
        !kit.Issue(caContainer, "zkmint demo CA", Container(f, letter), letter, ++serial, false, cert, error))
      return error;
    WriteDer(base / ("USER" + std::string(letter)) / "self.cer", cert);
    fs::create_directories(base / ("USER" + std::string(letter)) / "ABONENTS");
  }
  return std::string();
}

bool OpenParty(const DemoContext& context, const Flavour& f, DemoParty& party) {
  const std::string dir = MacroBase(f) + "USER" + party.letter + "\\";
  std::vector<NamedValue> params = {{"User certificate file", dir + "self.cer"},
                                    {"CA certificates dir", MacroBase(f) + "CA"},
                                    {"Abonents cerificates dir", dir + "ABONENTS"},
                                    {"Container Name Location", "FIXED_NAME:" + Container(f, party.letter)}};
  params.insert(params.end(), f.algorithms.begin(), f.algorithms.end());
  return OpenDemoParty(context, f.engineType, party, params, "certificate and directory under " + dir, party.letter);
}

void Include(const Flavour& f, DemoParty& holder, const DemoParty& owner) {
  const std::string file = MacroBase(f) + "USER" + owner.letter + "\\self.cer";
  holder.steps.Succeeds(*holder.engine, "IncludePublicKey (user " + owner.letter + ")",
                        holder.engine->IncludePublicKey(file), owner.letter + ".cer -> " + holder.letter + "'s directory");
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

void RunScenario(const Flavour& f, DemoParty& a, DemoParty& b, DemoParty& c) {
  Include(f, a, b);
  Include(f, a, c);
  Include(f, b, a);
  a.steps.Fails(*a.engine, "IncludePublicKey (own certificate)",
                a.engine->IncludePublicKey(MacroBase(f) + "USERA\\self.cer"), "the own UID is no correspondent");
  const Bytes order = Document("Payment order 17: 1000.00 RUB from A to B, account 40702810900000000017.");
  const Bytes signature = SignAndVerify(a, b, order);
  if (!signature.empty()) {
    VerifyTampered(b, order, signature);
    Reports(a, b, order, signature);
  }
  const Bytes envelope = EncryptAndDecrypt(a, b, order, "");
  if (!envelope.empty()) DecodeForeign(c, envelope, "B");
  Bytes forTwo = order;
  const int32_t sealed = a.engine->Encode(forTwo, b.uid + ";" + c.uid);
  if (a.steps.Succeeds(*a.engine, "EncodeData (for B and C)", sealed, std::to_string(forTwo.size()) + "-byte envelope")) {
    Bytes plain = forTwo;
    std::string from;
    const int32_t code = c.engine->Decode(plain, from);
    c.steps.Succeeds(*c.engine, "DecodeData (from A, for B and C)", code, std::to_string(plain.size()) + " bytes",
                     code == 0 && plain != order ? "the decrypted data differ from the original" : "");
  }
  a.steps.Succeeds(*a.engine, "RemoveCertificate (user C)", a.engine->RemoveCertificate(c.uid), "C.cer deleted");
  Bytes data = Document("After the removal");
  a.steps.Fails(*a.engine, "EncodeData (for removed C)", a.engine->Encode(data, c.uid), "C's certificate was removed");
  a.steps.Fails(*a.engine, "RemoveCertificate (own UID)", a.engine->RemoveCertificate(a.uid),
                "the own certificate stays");
  const int32_t kUnknownUid = 11;
  FinishRound(a, "stores and cached key dropped", kUnknownUid);
}

void RunRound(const DemoContext& context, const Flavour& f) {
  DemoSteps steps(context.table, f.engineType);
  if (!Engine::Create(context.api, f.engineType)) {
    steps.NotAvailable("InitCryptoEngine", "the library builds no " + f.engineType + " engine");
    return;
  }
  CapiKit kit;
  std::string error;
  if (!kit.Open(error)) {
    steps.NotAvailable("provisioning", "no CryptoAPI to make keys with (" + error + ")");
    return;
  }
  try {
    error = Provision(kit, f, context.root);
    if (!error.empty()) {
      steps.NotAvailable("provisioning", error);
      return;
    }
    steps.Done("provision CA, users A, B, C", MacroBase(f) + "{CA,USERA,USERB,USERC}, containers ZKMINT-" + f.folder +
                                                 "-*, CA in ROOT until the round ends");
    DemoParty a(context.table, f.engineType, "A"), b(context.table, f.engineType, "B"),
        c(context.table, f.engineType, "C");
    if (!OpenParty(context, f, a) || !OpenParty(context, f, b) || !OpenParty(context, f, c)) return;
    RunScenario(f, a, b, c);
  } catch (const std::exception& failure) {
    steps.Unexpected("(host)", failure.what());
  }
}

}  // namespace

void RunCapiDemo(const DemoContext& context, const std::string& type) {
  // The round's keys live in the CryptoAPI's containers, which the kit empties when the round
  // ends, so no command after the demo could use them: this round leaves no parameter files.
  const DemoContext round{context.api, context.root, context.table, nullptr};
  RunRound(round, type == kPro.engineType ? kPro : kMs);
}

}  // namespace zkmint
