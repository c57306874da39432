// Exports of the Validata stand-in beyond the toolkit's own calls (see README.md). C calling
// convention; 0 on success, else a positive toolkit code.
#pragma once

#include <cstdint>

#include "standin.h"

// A new authority in dir: "ca.key" (its key and certificate) and "ca.cer" (DER). subject lists
// the name's attributes in their DER order, "C=RU,O=Bank,CN=Root".
STANDIN_EXPORT int VCERT_StandIn_MakeCa(const char* dir, const char* subject);
// A PSE with a new key and its certificate issued by caDir's authority (which becomes the PSE's
// trust anchor); the certificate also goes to certOut (DER, or PEM when pem) unless empty.
// keyUsage: the first byte of the key-usage bits (0: none); ekus: ";"-joined OIDs; validity in
// seconds from now.
STANDIN_EXPORT int VCERT_StandIn_MakePse(const char* caDir, const char* subject, const char* serialHex,
                                         uint32_t keyUsage, const char* ekus, int64_t notBeforeOffset,
                                         int64_t notAfterOffset, const char* psePath, const char* certOut, int32_t pem);
// A CRL of caDir's authority revoking the certificates in the ";"-separated files.
STANDIN_EXPORT int VCERT_StandIn_MakeCrl(const char* caDir, const char* revokedCertFiles, const char* crlFile,
                                         int32_t pem);
// The PSE's private key as PEM (PKCS#1), for checks with other tools.
STANDIN_EXPORT int VCERT_StandIn_ExportKey(const char* psePath, const char* keyFile);
// Adds the certificate file (DER) to a local store file, made when missing.
STANDIN_EXPORT int VCERT_StandIn_AddToStore(const char* storePath, const char* certFile);
// count new certificates of caDir's authority for the key (and validity, usages) of keyCertFile,
// subjects subjectPrefix + "0", "1", ..., added to a local store file in one write.
STANDIN_EXPORT int VCERT_StandIn_FillStore(const char* caDir, const char* storePath, const char* keyCertFile,
                                           const char* subjectPrefix, int32_t count);
STANDIN_EXPORT int StandIn_Control(const char* command);
