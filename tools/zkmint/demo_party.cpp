#include "demo_party.h"

#include <exception>

#include "callbacks.h"

namespace zkmint {

Bytes Document(const std::string& text) { return Bytes(text.begin(), text.end()); }

bool OpenRoundToolkit(const DemoContext& context, DemoSteps& steps, const std::string& engineType,
                      const std::string& toolkitFile, zkhost::HostModule& module,
                      std::initializer_list<const char*> exports) {
  if (!Engine::Create(context.api, engineType)) {
    steps.NotAvailable("InitCryptoEngine", "the library builds no engine of this type");
    return false;
  }
  const std::string path = zkhost::DemoToolkitDirectory() + toolkitFile;
  std::string error;
  if (!module.Open(path, error)) {
    steps.NotAvailable("provisioning", "no stand-in toolkit (" + error + ")");
    return false;
  }
  for (const char* name : exports) {
    if (module.Symbol(name) == nullptr) {
      steps.NotAvailable("provisioning", path + " has no " + name);
      return false;
    }
  }
  return true;
}

void RunThreePartyRound(const DemoContext& context, const ThreePartyRound& round) {
  DemoSteps steps(context.table, round.engineType);
  zkhost::HostModule module;
  if (!OpenRoundToolkit(context, steps, round.engineType, round.toolkitFile, module, {})) return;
  try {
    const std::string error = round.provision(module, context.root);
    if (!error.empty()) {
      steps.Unexpected("provision users A, B, C", error);
      return;
    }
    steps.Done("provision users A, B, C", round.provisioned);
    DemoParty a(context.table, round.engineType, "A"), b(context.table, round.engineType, "B"),
        c(context.table, round.engineType, "C");
    if (!round.openParty(context, a) || !round.openParty(context, b) || !round.openParty(context, c)) return;
    round.scenario(a, b, c);
  } catch (const std::exception& failure) {
    steps.Unexpected("(host)", failure.what());
  }
}

bool OpenDemoParty(const DemoContext& context, const std::string& engineType, DemoParty& party,
                   const std::vector<NamedValue>& params, const std::string& summary,
                   const std::string& expectedUID) {
  party.engine = Engine::Create(context.api, engineType);
  if (!party.engine) {
    party.steps.Unexpected("InitCryptoEngine", "returned null after succeeding before");
    return false;
  }
  party.engine->SetRootPath(context.root);
  party.engine->SetCallbacks(PasswordRequest, TouchMemoryRequest);
  if (!SetParamsByName(*party.engine, party.steps, params, summary)) return false;
  if (context.handoff) context.handoff->WriteParamFile(engineType, party.letter, params);
  const int32_t code = party.engine->CurrentUID(party.uid);
  std::string problem;
  if (code == 0 && !expectedUID.empty() && party.uid != expectedUID)
    problem = "UID reported as " + party.uid;
  else if (party.uid.empty())
    problem = "empty UID";
  return party.steps.Succeeds(*party.engine, "GetCurrentUserUID", code, "UID " + party.uid, problem);
}

Bytes SignAndVerify(DemoParty& signer, DemoParty& verifier, const Bytes& document, const std::string& detail) {
  Bytes signature;
  int32_t code = signer.engine->Sign(document, "", signature);
  const std::string operation = detail.empty() ? "SignData" : "SignData (" + detail + ")";
  if (!signer.steps.Succeeds(*signer.engine, operation, code, std::to_string(signature.size()) + "-byte signature"))
    return {};
  std::string name;
  code = verifier.engine->Verify(document, signature, name);
  verifier.steps.Succeeds(*verifier.engine, "VerifyData (signed by " + signer.letter + ")", code, "signer " + name,
                          code == 0 && name != signer.uid ? "signer reported as " + name : "");
  return signature;
}

void VerifyTampered(DemoParty& verifier, Bytes document, const Bytes& signature) {
  document[document.size() / 2] ^= 0x01;
  std::string name;
  verifier.steps.Fails(*verifier.engine, "VerifyData (one bit of data changed)",
                       verifier.engine->Verify(document, signature, name), "the data were changed");
}

Bytes EncryptAndDecrypt(DemoParty& sender, DemoParty& recipient, const Bytes& document, const std::string& method) {
  std::string recipientUID;
  int32_t code = sender.engine->EncodeUID(recipient.uid, recipientUID);
  if (!sender.steps.Succeeds(*sender.engine, "GetEncodeUIDBySignUID", code, recipient.uid + " -> " + recipientUID))
    return {};
  Bytes envelope = document;
  code = sender.engine->Encode(envelope, recipientUID);
  const std::string operation = "EncodeData (" + (method.empty() ? "" : method + ", ") + "for " + recipient.letter + ")";
  if (!sender.steps.Succeeds(*sender.engine, operation, code, std::to_string(envelope.size()) + "-byte envelope"))
    return {};
  Bytes plain = envelope;
  std::string from;
  code = recipient.engine->Decode(plain, from);
  recipient.steps.Succeeds(*recipient.engine, "DecodeData (from " + sender.letter + ")", code,
                           std::to_string(plain.size()) + " bytes, equal to the original",
                           plain == document ? "" : "the decrypted data differ from the original");
  return envelope;
}

void DecodeForeign(DemoParty& party, Bytes envelope, const std::string& recipientLetter) {
  std::string from;
  party.steps.Fails(*party.engine, "DecodeData (envelope for " + recipientLetter + ")",
                    party.engine->Decode(envelope, from), "the envelope is for another user");
}

void FinishRound(DemoParty& party, const std::string& clearDetail, int32_t textCode) {
  party.engine->ClearCash();
  party.steps.Done("ClearCash", clearDetail);
  std::string uid;
  const int32_t code = party.engine->CurrentUID(uid);
  party.steps.Succeeds(*party.engine, "GetCurrentUserUID (after ClearCash)", code, "UID " + uid,
                       code == 0 && uid != party.uid ? "UID changed to " + uid : "");
  const std::string operation = "GetCryptoErrorString(" + std::to_string(textCode) + ")";
  const std::string text = party.engine->ErrorText(textCode);
  if (text.empty())
    party.steps.Unexpected(operation, "empty text");
  else
    party.steps.Done(operation, text);
}

}  // namespace zkmint
