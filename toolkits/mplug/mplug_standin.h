// Exports of the Message-PRO plug-in stand-in beyond the plug-in's own calls: key and certificate
// provisioning for tests and the demo, and the control entry. C calling convention; 0 on
// success, else a negative plug-in code.
#pragma once

#include <cstdint>

#include "standin.h"

// A new authority: its private key file and its self-signed certificate.
STANDIN_EXPORT int MPro_StandIn_MakeCa(const char* subject, const char* caKeyFile, const char* caCertFile);
// A new user key and certificate issued by the authority; the certificate ends validSeconds
// from now (0: no end; negative: already expired).
STANDIN_EXPORT int MPro_StandIn_MakeUser(const char* caKeyFile, const char* caCertFile, const char* subject,
                                         int64_t validSeconds, const char* pseFile, const char* certFile);
// A CRL of the authority revoking the certificates in the ";"-separated list of files.
STANDIN_EXPORT int MPro_StandIn_MakeCrl(const char* caKeyFile, const char* caCertFile, const char* revokedCertFiles,
                                        const char* crlFile);
// The private key of a PSE file as PKCS#1 PEM, for checks with other tools.
STANDIN_EXPORT int MPro_StandIn_ExportKey(const char* pseFile, const char* pemFile);
STANDIN_EXPORT int StandIn_Control(const char* command);
