// The engines beside plug-ins built differently: at version 1.0.0.0 (calls stay serialised),
// without GetCRLIssuerName (incomplete: -128), without LoadCertificate (nothing changed: -128).
#include <gtest/gtest.h>

#include <filesystem>

#include "engines/mpro/mpro_engine.h"
#include "mpro_fixture.h"

namespace {

TEST(MProVariant, Behaviour) {
#if defined(ZK_MPRO_OLD)
  EXPECT_TRUE(zk::mpro::TMProDLL(1).Serialised());
  EXPECT_TRUE(zk::mpro::TMProDLL(2).Serialised());
#elif defined(ZK_MPRO_NOCRL)
  zk::TMPro1CryptoEngine engine;
  char uid[64];
  EXPECT_EQ(engine.GetCurrentUID(uid), -128);
  EXPECT_EQ(engine.GetCurrentUID(uid), -128) << "the same answer again";
  char text[512];
  engine.GetCryptoErrorString(-128, text);
  EXPECT_STREQ(text, "Unable to retrive all necessary functionns from mplug*.dll");
#elif defined(ZK_MPRO_NOLOAD)
  zk::mpro::TMProDLL binding(0);
  EXPECT_TRUE(binding.FunctionsPresent) << "LoadCertificate is not required";
  mprotest::Sandbox box;
  box.AddUser("alice");
  box.AddUser("bob", "", 0, box.Dir() + "/bob.pem");
  auto alice = mprotest::EngineFor("Message-PRO 1.1", box, "alice");
  EXPECT_EQ(alice->IncludePublicKey((box.Dir() + "/bob.pem").c_str()), -128);
  EXPECT_FALSE(std::filesystem::exists(box.CertDir() + "bob.pem")) << "nothing placed unchecked";
#endif
}

}  // namespace
