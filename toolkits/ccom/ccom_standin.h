// Exports of the CryptoCom 3.x stand-in beyond the calls the adapter makes (see README.md): the
// one-shot hash and MAC, key provisioning for tests and the demo, and the control entry.
#pragma once

#include <cstddef>

extern "C" {
// GOST R 34.11-94 of one buffer; paramId as GOSTH_hash_init (21 = CryptoPro, else error 13).
int GOSTH(int paramId, const void* data, size_t len, unsigned char* digest32);
// The 4-byte GOST 28147-89 MAC of one buffer under a 32-byte key (the GOSTE_init table).
int GOSTE_mac(const unsigned char* key32, const void* data, size_t len, unsigned char* mac4);

// Creates the PSE in secretKeyDir if it has none, adds a new key to its KEYS directory as the next
// free "<n>.sec" and writes the self-signed public-key file of uid and description.
// 1, or 0 with the last error set.
int CCOM_StandIn_MakeUser(const char* secretKeyDir, const char* publicKeyFile, const char* uid,
                          const char* description);

// The scripting entry shared by all stand-ins (toolkits/common/standin.h).
int StandIn_Control(const char* command);
}
