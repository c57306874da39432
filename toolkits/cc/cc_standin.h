// Exports of the Crypto COM 2.2 stand-in beyond the toolkit's own calls (see README.md): key
// provisioning for tests and the demo, the signature length, and the control entry. C calling
// convention; 0 on success, else a negative toolkit status.
#pragma once

#include <cstdint>

#include "standin.h"

// A new authority: writes "<secretDir>\<number>.aut" and returns its secret key as 64 hex digits
// (authSecretHex holds 65 bytes).
STANDIN_EXPORT int CC_StandIn_MakeAuthority(const char* secretDir, int32_t number, char* authSecretHex);
// A new user key issued by that authority: "<secretDir>\<keyNumber>.sec", a copy of the
// authority's ".aut" in secretDir, and the certificate at selfCrt and at the UID's place under
// certDir (each when not empty). Validity in seconds since 1970 (UTC).
STANDIN_EXPORT int CC_StandIn_MakeUser(const char* authSecretHex, int32_t authNumber, const char* uid, int32_t keyNumber,
                        int64_t notBefore, int64_t notAfter, const char* certDir, const char* secretDir,
                        const char* selfCrt);
// A random file of `size` system random bytes.
STANDIN_EXPORT int CC_StandIn_MakeRandomFile(const char* path, int32_t size);
// Later signatures are `len` bytes long (zero padding); 0 restores the normal 72.
STANDIN_EXPORT int CC_StandIn_SetSignatureLength(int32_t len);
// The scripting entry shared by all stand-ins (toolkits/common/standin.h).
STANDIN_EXPORT int StandIn_Control(const char* command);
