/* A host program built against an installed zk_mint, as a user's project would be: it lists the
 * engine types and makes one round trip with the emulation engine. Exit status 0 on success. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zk_mint.h>

static int Fail(ZkEngine engine, const char* what, int32_t code) {
  char* text = malloc((size_t)GetMaxErrorStringLength(engine) + 1);
  GetCryptoErrorString(engine, code, text);
  fprintf(stderr, "consumer: %s failed with %d: %s\n", what, (int)code, text);
  free(text);
  return 1;
}

int main(void) {
  char type[101];
  int32_t count = 0, rc;
  for (int32_t i = 1; i <= 100; ++i) {
    GetCryptoEngineTypes(i, type);
    if (!type[0]) break;
    ++count;
  }
  printf("engine types: %d\n", (int)count);
  ZkEngine engine = InitCryptoEngine("Emulation/1.0");
  if (count != 18 || !engine) return 1;

  const char message[] = "payment order 42";
  int32_t len = (int32_t)sizeof message;
  uint8_t* data = malloc((size_t)len + (size_t)GetMaxEncodeAddition(engine));
  uint8_t* sig = malloc((size_t)GetMaxSignatureLength(engine));
  char* uid = malloc((size_t)GetMaxUIDLength(engine) + 1);
  int32_t sigLen = 0;
  memcpy(data, message, (size_t)len);
  if ((rc = SignData(engine, data, len, sig, &sigLen, NULL)) != 0) return Fail(engine, "SignData", rc);
  if ((rc = VerifyData(engine, data, len, sig, sigLen, uid)) != 0) return Fail(engine, "VerifyData", rc);
  if ((rc = EncodeData(engine, data, &len, NULL)) != 0) return Fail(engine, "EncodeData", rc);
  if ((rc = DecodeData(engine, data, &len, uid)) != 0) return Fail(engine, "DecodeData", rc);
  int same = len == (int32_t)sizeof message && memcmp(data, message, sizeof message) == 0;
  printf("emulation round trip: %s\n", same ? "ok" : "data differ");
  free(data);
  free(sig);
  free(uid);
  DoneCryptoEngine(engine);
  return same ? 0 : 1;
}
