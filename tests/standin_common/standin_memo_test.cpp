#include <gcrypt.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_memo.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Rsa {
  gcry_sexp_t priv = nullptr, pub = nullptr;
  Rsa() {
    gcry_sexp_t params = nullptr, pair = nullptr;
    gcry_sexp_build(&params, nullptr, "(genkey(rsa(nbits 4:1024)))");
    gcry_pk_genkey(&pair, params);
    priv = gcry_sexp_find_token(pair, "private-key", 0);
    pub = gcry_sexp_find_token(pair, "public-key", 0);
    gcry_sexp_release(params);
    gcry_sexp_release(pair);
  }
  ~Rsa() {
    gcry_sexp_release(priv);
    gcry_sexp_release(pub);
  }
};

Bytes Token(gcry_sexp_t s, const char* name) {
  gcry_sexp_t t = gcry_sexp_find_token(s, name, 0);
  size_t n = 0;
  const char* p = t != nullptr ? gcry_sexp_nth_data(t, 1, &n) : nullptr;
  Bytes out = p != nullptr ? Bytes(p, p + n) : Bytes();
  gcry_sexp_release(t);
  return out;
}

Bytes Wrap(const Rsa& key, const Bytes& plain) {
  gcry_sexp_t data = nullptr, enc = nullptr;
  gcry_sexp_build(&data, nullptr, "(data(flags pkcs1)(value %b))", int(plain.size()), plain.data());
  gcry_pk_encrypt(&enc, data, key.pub);
  Bytes out = Token(enc, "a");
  gcry_sexp_release(data);
  gcry_sexp_release(enc);
  return out;
}

// 1 and the unwrapped key, or 0: what a stand-in's RSA decryption gives.
int Unwrap(const Rsa& key, const Bytes& in, Bytes& plain) {
  gcry_sexp_t enc = nullptr, out = nullptr;
  gcry_sexp_build(&enc, nullptr, "(enc-val(flags pkcs1)(rsa(a %b)))", int(in.size()), in.data());
  const bool ok = gcry_pk_decrypt(&out, enc, key.priv) == 0;
  if (ok) plain = Token(out, "value");
  gcry_sexp_release(enc);
  gcry_sexp_release(out);
  return ok ? 1 : 0;
}

// Each case asked twice, in turn with the others: the memo's answers are the computed ones, each
// computed once, and a wrapped key one bit away, or the same bytes under another key, is never
// answered with an earlier entry.
TEST(StandInMemo, GivesWhatComputingGivesAndKeepsNearInputsApart) {
  // As the stand-ins start libgcrypt: no secure-memory pool, which would outlive the test.
  gcry_check_version(nullptr);
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  const Rsa a, b;
  const Bytes contentKey(32, 0x5A), wrapped = Wrap(a, contentKey);
  Bytes flippedLow = wrapped, flippedHigh = wrapped, longer = wrapped;
  flippedLow.back() ^= 1;
  flippedHigh[1] ^= 0x80;
  longer.push_back(0);
  const struct Case {
    const Rsa* key;
    Bytes in;
  } cases[] = {{&a, wrapped}, {&a, flippedLow}, {&a, flippedHigh}, {&a, longer}, {&b, wrapped}, {&a, Wrap(a, {1})}};
  standin::Memo memo(64);
  for (int round = 0; round < 2; ++round) {
    for (const Case& c : cases) {
      SCOPED_TRACE(&c - cases);
      Bytes expected, got;
      const int expectedStatus = Unwrap(*c.key, c.in, expected);
      int computed = 0;
      const standin::MemoKey key = standin::MemoKey("RSA decrypt").Add(c.key->priv).Add(c.in);
      EXPECT_EQ(expectedStatus, standin::Remembered(memo, key, got, [&](Bytes& out) {
                  ++computed;
                  return Unwrap(*c.key, c.in, out);
                }));
      EXPECT_EQ(expected, got);
      EXPECT_EQ(round == 0 ? 1 : 0, computed);
    }
  }
  EXPECT_EQ(contentKey, [&] {
    Bytes plain;
    Unwrap(a, wrapped, plain);
    return plain;
  }());
}

// Parts are kept apart by their lengths; a full memo forgets, and then computes again.
TEST(StandInMemo, KeysKeepTheirPartsApartAndTheMemoStaysBounded) {
  EXPECT_NE(standin::MemoKey("op").Add(std::string("ab")).Add(std::string("c")).Text(),
            standin::MemoKey("op").Add(std::string("a")).Add(std::string("bc")).Text());
  EXPECT_NE(standin::MemoKey("op").Add(std::string("x")).Text(), standin::MemoKey("oq").Add(std::string("x")).Text());
  standin::Memo memo(2);
  int computed = 0;
  for (int round = 0; round < 2; ++round) {
    for (uint8_t i = 0; i < 3; ++i) {
      Bytes out;
      EXPECT_EQ(i, standin::Remembered(memo, standin::MemoKey("n").Add(&i, 1), out, [&](Bytes& result) {
                  ++computed;
                  result.assign(1, i);
                  return int(i);
                }));
      EXPECT_EQ(Bytes(1, i), out);
      EXPECT_LE(memo.Size(), 2u);
    }
  }
  EXPECT_EQ(6, computed);  // three keys in a memo of two: each forgotten before it was asked again
}

}  // namespace
