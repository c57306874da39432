// The emulation engine: no cryptography, so the demo shows the interface itself: type, named
// parameters, in-place buffers, the identity mapping of UIDs and the optional operations that
// this engine declines.
#include "callbacks.h"
#include "demo.h"

namespace zkmint {
namespace {

const Bytes kDocument = {'P', 'a', 'y', 'm', 'e', 'n', 't', ' ', 'o', 'r', 'd', 'e', 'r', ' ', '1', 0x00, 0xFF};

void RunDataOperations(Engine& engine, DemoSteps& steps) {
  std::string uid;
  int32_t code = engine.CurrentUID(uid);
  steps.Succeeds(engine, "GetCurrentUserUID", code, uid.empty() ? "empty UID" : "UID " + uid);

  Bytes signature;
  code = engine.Sign(kDocument, "", signature);
  steps.Succeeds(engine, "SignData", code, std::to_string(signature.size()) + "-byte signature");
  std::string signer;
  code = engine.Verify(kDocument, signature, signer);
  steps.Succeeds(engine, "VerifyData", code, "accepted");

  Bytes data = kDocument;
  code = engine.Encode(data, "");
  steps.Succeeds(engine, "EncodeData", code, std::to_string(data.size()) + " bytes after encoding");
  std::string sender;
  if (code == 0) code = engine.Decode(data, sender);
  steps.Succeeds(engine, "DecodeData", code, "data back unchanged",
                 data == kDocument ? "" : "the decoded data differ from the original");

  std::string encodeUID;
  code = engine.EncodeUID("DEMO-UID", encodeUID);
  steps.Succeeds(engine, "GetEncodeUIDBySignUID", code, "DEMO-UID -> " + encodeUID);
}

void RunCacheOperations(Engine& engine, DemoSteps& steps) {
  steps.Fails(engine, "IncludePublicKey", engine.IncludePublicKey("%ZEXRoot%\\EMULATION\\none.cer"),
              "this engine keeps no keys");
  steps.Succeeds(engine, "UpdateCertificateCash", engine.UpdateCertificateCash("DEMO-UID"),
                 "the library clears the cache instead");
  steps.Fails(engine, "RemoveCertificate", engine.RemoveCertificate("DEMO-UID"), "this engine keeps no keys");
  steps.Fails(engine, "IncludeCRL", engine.IncludeCRL("%ZEXRoot%\\EMULATION\\none.crl"),
              "this engine keeps no CRLs");
  engine.ClearCash();
  steps.Done("ClearCash", "done");
  std::string text = engine.ErrorText(10);
  if (text.empty())
    steps.Unexpected("GetCryptoErrorString(10)", "empty text");
  else
    steps.Done("GetCryptoErrorString(10)", text);
}

}  // namespace

void RunEmulationDemo(const DemoContext& context, const std::string& type) {
  DemoSteps steps(context.table, type);
  try {
    std::unique_ptr<Engine> engine = Engine::Create(context.api, type);
    if (!engine) {
      steps.Unexpected("InitCryptoEngine", "returned null for an emulation type");
      return;
    }
    steps.Done("InitCryptoEngine, GetCryptoEngineType", "created; reports " + engine->Type());
    engine->SetRootPath(context.root);
    engine->SetCallbacks(PasswordRequest, TouchMemoryRequest);
    steps.Done("SetRootPath, Set...RequestFunc", "root and both callbacks set");
    SetParamsByName(*engine, steps, {{"Parameter 2", "demo value"}},
                    std::to_string(engine->Params().size()) + " parameters; Parameter 2 = demo value");
    RunDataOperations(*engine, steps);
    RunCacheOperations(*engine, steps);
  } catch (const HostError& error) {
    steps.Unexpected("(host)", error.what());
  }
}

}  // namespace zkmint
