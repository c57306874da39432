// Toolkit calls the adapter resolves but never makes: they exist so that the binding is
// complete and answer "bad command" (-64), or null, whatever they are given. Each keeps its true
// argument list, since a stdcall function removes its own arguments from the stack.
#include "cc_internal.h"

namespace {
int32_t Refused(int code) { return code != 0 ? code : cc::kBadCommand; }
}  // namespace

#define CC_REFUSE(name, bytes) return Refused(standin::Hook(#name))
#define CC_REFUSE_NULL(name, bytes) \
  do {                              \
    standin::Hook(#name);           \
    return nullptr;                 \
  } while (0)

extern "C" {

int32_t CC_CALL SetPKSAlgorithm(HCCCTX, const char*) { CC_REFUSE(SetPKSAlgorithm, 8); }
int32_t CC_CALL SetCurrentDir(HCCCTX, const char*) { CC_REFUSE(SetCurrentDir, 8); }
int32_t CC_CALL SetArchivePath(HCCCTX, const char*) { CC_REFUSE(SetArchivePath, 8); }
int32_t CC_CALL SetPKSParameters(HCCCTX, int32_t, int32_t) { CC_REFUSE(SetPKSParameters, 12); }
int32_t CC_CALL SetPeriod(HCCCTX, int32_t) { CC_REFUSE(SetPeriod, 8); }
int32_t CC_CALL SetSignFlags(HCCCTX, int32_t) { CC_REFUSE(SetSignFlags, 8); }
int32_t CC_CALL SetVerifyFlags(HCCCTX, int32_t) { CC_REFUSE(SetVerifyFlags, 8); }
int32_t CC_CALL SetCipherFlags(HCCCTX, int32_t) { CC_REFUSE(SetCipherFlags, 8); }
int32_t CC_CALL SetDebug(HCCCTX, int32_t, const char*) { CC_REFUSE(SetDebug, 12); }
int32_t CC_CALL KeysGeneration(HCCCTX, const char*, const char*, int32_t) { CC_REFUSE(KeysGeneration, 16); }
int32_t CC_CALL FileSign(HCCCTX, const char*, const char*, int32_t) { CC_REFUSE(FileSign, 16); }
int32_t CC_CALL FileVerify(HCCCTX, const char*, const char*, int32_t) { CC_REFUSE(FileVerify, 16); }
void* CC_CALL InitSubjectList(void) { CC_REFUSE_NULL(InitSubjectList, 0); }
int32_t CC_CALL FreeSubjectList(void*) { CC_REFUSE(FreeSubjectList, 4); }
int32_t CC_CALL AddSubject(void*, const char*, const char*, const char*, int32_t, int32_t) { CC_REFUSE(AddSubject, 24); }
int32_t CC_CALL FileEncipher(HCCCTX, const char*, const char*, void*, int32_t) { CC_REFUSE(FileEncipher, 20); }
int32_t CC_CALL FileDecipher(HCCCTX, const char*, const char*, int32_t) { CC_REFUSE(FileDecipher, 16); }
int32_t CC_CALL FileDeleteSignatures(HCCCTX, const char*) { CC_REFUSE(FileDeleteSignatures, 8); }
const char* CC_CALL GetArchCertPath(HCCCTX, const char*, int32_t) { CC_REFUSE_NULL(GetArchCertPath, 12); }
const char* CC_CALL GetInfoPath(HCCCTX, const char*) { CC_REFUSE_NULL(GetInfoPath, 8); }
const char* CC_CALL GetCAPath(HCCCTX, const char*, int32_t) { CC_REFUSE_NULL(GetCAPath, 12); }
int32_t CC_CALL CertInfo(HCCCTX, const char*, CC_CERT_INFO** Info) {
  if (Info != nullptr) *Info = nullptr;
  CC_REFUSE(CertInfo, 12);
}
int32_t CC_CALL InfoInfo(HCCCTX, const char*, void** Info) {
  if (Info != nullptr) *Info = nullptr;
  CC_REFUSE(InfoInfo, 12);
}
int32_t CC_CALL _InfoInfo(HCCCTX, const char*, void** Info) {
  if (Info != nullptr) *Info = nullptr;
  CC_REFUSE(_InfoInfo, 12);
}
int32_t CC_CALL SecInfo(HCCCTX, const char*, CC_SEC_INFO** Info) {
  if (Info != nullptr) *Info = nullptr;
  CC_REFUSE(SecInfo, 12);
}
int32_t CC_CALL FreeInfoInfo(void*) { CC_REFUSE(FreeInfoInfo, 4); }
int32_t CC_CALL GetLibraryVersion(void) {
  standin::Hook("GetLibraryVersion");
  return 0x0202;
}
int32_t CC_CALL _BufferCleanFree(void*) { CC_REFUSE(_BufferCleanFree, 4); }
int32_t CC_CALL NewKeys(HCCCTX, const char*, const char*, int32_t, int32_t, int32_t, int32_t) { CC_REFUSE(NewKeys, 28); }
int32_t CC_CALL NewCertificate(HCCCTX, const char*, const char*, const char*, int32_t, int32_t, int32_t, int32_t,
                               int32_t) {
  CC_REFUSE(NewCertificate, 36);
}
int32_t CC_CALL NewUserInfo(HCCCTX, const char*, const char*, const char*, int32_t, int32_t, int32_t, int32_t) {
  CC_REFUSE(NewUserInfo, 32);
}

}  // extern "C"
