// The built zkmint run as a process against the built library, as a user runs it: exit status,
// standard output and standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#if defined(ZKMINT_WITH_OSSLKIT)
#include "osslkit.h"
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Zkmint : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("zkmint_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Run(const std::vector<std::string>& args) {
    std::string command = Quote(ZKMINT_EXE);
    for (const std::string& arg : args) command += " " + Quote(arg);
    fs::path errFile = dir_ / "stderr.txt";
    command += " 2>" + Quote(errFile.string()) + " </dev/null";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) outcome.out.append(chunk, got);
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.err = ReadText(errFile);
    return outcome;
  }

  bool EngineAvailable(const std::string& type) {
    for (const std::string& line : Lines(Run({"engines"}).out))
      if (Contains(line, " " + type + " ") && !Contains(line, "not available")) return true;
    return false;
  }

  fs::path dir_;
};

// Every byte value, and the line ends a text-mode stream would change.
std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes + "\r\n\n\x1A";
}

TEST_F(Zkmint, EnginesListsEighteenTypesAndWhichOfThemTheLibraryBuilds) {
  Outcome run = Run({"engines"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 18u) << run.out;
  for (int index : {1, 2, 12, 14}) {
    EXPECT_TRUE(Contains(lines[static_cast<size_t>(index - 1)], " available")) << lines[index - 1];
    EXPECT_FALSE(Contains(lines[static_cast<size_t>(index - 1)], "not available")) << lines[index - 1];
  }
  EXPECT_TRUE(Contains(lines[16], "Tumar CSP")) << lines[16];
  EXPECT_TRUE(Contains(lines[16], "not available")) << lines[16];
}

TEST_F(Zkmint, ParamsAppliesTheFileThenTheCommandLineMatchingNamesWithoutCase) {
  fs::path params = dir_ / "emu.params";
  WriteBytes(params, "# emulation\r\nParameter 1=from file\r\nParameter 2=also from file\r\n");
  Outcome run = Run({"params", "--engine", "Vove Darav", "--param-file", params.string(), "--param",
                     "PARAMETER 2=from the command line"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_TRUE(Contains(lines[0], "Parameter 1") && Contains(lines[0], "from file")) << lines[0];
  EXPECT_TRUE(Contains(lines[1], "Parameter 2") && Contains(lines[1], "from the command line")) << lines[1];
}

TEST_F(Zkmint, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"frobnicate"},
      {"sign", "--engine", "Emulation/1.0"},                        // no file
      {"uid"},                                                      // no --engine
      {"uid", "--engine", "Emulation/1.0", "--param", "Colour=red"}  // no such parameter
  };
  for (const auto& args : cases) {
    Outcome run = Run(args);
    EXPECT_EQ(run.status, 2) << args[0] << ": " << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_TRUE(Contains(Run(cases[3]).err, "Colour"));
}

TEST_F(Zkmint, ALibraryThatCannotBeLoadedExitsWithThree) {
  Outcome run = Run({"engines", "--library", (dir_ / "libzk_mint.so").string()});
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(Contains(run.err, "cannot load")) << run.err;
}

TEST_F(Zkmint, FailingOperationPrintsItsCodeAndTextAndExitsWithOne) {
  Outcome run = Run({"include-key", "--engine", "Emulation/1.0", (dir_ / "a.cer").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "IncludePublicKey failed with code -1: CRYPTO ENGINE ERROR : -1")) << run.err;
}

TEST_F(Zkmint, EmulationEncryptAndDecryptKeepEveryByteOfAFile) {
  fs::path plain = dir_ / "plain.bin", sealed = dir_ / "sealed.bin", opened = dir_ / "opened.bin";
  WriteBytes(plain, AllBytes());
  ASSERT_EQ(Run({"encrypt", "--engine", "Emulation/2.0", "--out", sealed.string(), plain.string()}).status, 0);
  Outcome decrypt = Run({"decrypt", "--engine", "Emulation/2.0", "--out", opened.string(), sealed.string()});
  ASSERT_EQ(decrypt.status, 0) << decrypt.err;
  EXPECT_EQ(ReadText(opened), AllBytes());
  Outcome toStdout = Run({"decrypt", "--engine", "Emulation/2.0", sealed.string()});
  EXPECT_EQ(toStdout.out, AllBytes());
}

TEST_F(Zkmint, EmulationSignAndVerifyThroughFiles) {
  fs::path doc = dir_ / "doc.txt";
  WriteBytes(doc, "payment order");
  Outcome sign = Run({"sign", "--engine", "Emulation/1.0", doc.string()});
  ASSERT_EQ(sign.status, 0) << sign.err;
  ASSERT_TRUE(fs::exists(dir_ / "doc.txt.sig"));
  EXPECT_EQ(fs::file_size(dir_ / "doc.txt.sig"), 0u);  // the emulation signs with nothing
  Outcome verify = Run({"verify", "--engine", "Emulation/1.0", doc.string()});
  EXPECT_EQ(verify.status, 0) << verify.err;
  EXPECT_TRUE(Contains(verify.out, "verified")) << verify.out;
  Outcome missing = Run({"verify", "--engine", "Emulation/1.0", "--signature", (dir_ / "none.sig").string(),
                         doc.string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err, "none.sig")) << missing.err;
}

TEST_F(Zkmint, DemoRunsEveryWorkingEngineWithTheExpectedResults) {
  Outcome run = Run({"demo"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(Contains(run.out, "UNEXPECTED")) << run.out;
  EXPECT_TRUE(Contains(run.out, "Every operation gave the expected result.")) << run.out;
  for (const std::string type : {"Emulation/1.0", "Emulation/2.0", "Vove Darav", "Domain-K (c) Infotecs JSC."}) {
    bool decoded = false;
    for (const std::string& line : Lines(run.out))
      decoded = decoded || (line.rfind(type, 0) == 0 && Contains(line, "DecodeData") && Contains(line, " 0  ok"));
    EXPECT_TRUE(decoded) << type;
  }
  if (EngineAvailable("OpenSSL")) {
    EXPECT_TRUE(Contains(run.out, "DecodeData (from A)")) << run.out;
    EXPECT_TRUE(Contains(run.out, "VerifyData (C after the CRL)")) << run.out;
  }
}

TEST_F(Zkmint, DemoRefusesADirectoryThatIsNotEmptyAndKeepsOneItWasGiven) {
  WriteBytes(dir_ / "precious.txt", "keep me");
  Outcome refused = Run({"demo", "--dir", dir_.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(ReadText(dir_ / "precious.txt"), "keep me");

  fs::path sandbox = dir_ / "sandbox";
  Outcome run = Run({"demo", "--dir", sandbox.string()});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(fs::is_directory(sandbox));
  if (EngineAvailable("OpenSSL")) {
    EXPECT_TRUE(fs::exists(sandbox / "OPENSSL" / "CA" / "ca.cer"));
    EXPECT_FALSE(fs::exists(sandbox / "OPENSSL" / "INBOX" / "ca.crl")) << "IncludeCRL moves the file";
  }
  // Each printed hand-off (sign as A, verify as B: one command over two lines) works as printed,
  // from the parameter files the demo left behind.
  std::string joined = run.out;
  for (size_t at = joined.find("\\\n"); at != std::string::npos; at = joined.find("\\\n", at)) joined.erase(at, 2);
  int handoffs = 0;
  for (const std::string& line : Lines(joined)) {
    if (!Contains(line, " sign ") || !Contains(line, " verify ") || !Contains(line, "--param-file")) continue;
    ++handoffs;
    EXPECT_EQ(std::system((line + " >/dev/null 2>&1").c_str()), 0) << line;
  }
  EXPECT_GE(handoffs, EngineAvailable("OpenSSL") ? 3 : 2) << run.out;
}

#if defined(ZKMINT_WITH_OSSLKIT)
class ZkmintOpenSSL : public Zkmint {
 protected:
  void SetUp() override {
    Zkmint::SetUp();
    if (!EngineAvailable("OpenSSL")) GTEST_SKIP() << "the library has no OpenSSL engine";
    zk::osslkit::SandboxOptions options;
    options.users = {{"alice"}, {"bob"}};
    box_ = std::make_unique<zk::osslkit::Sandbox>((dir_ / "pki").string(), options);
    for (const char* name : {"alice", "bob"}) {
      const zk::osslkit::SandboxUser& user = box_->user(name);
      WriteBytes(dir_ / (std::string(name) + ".params"),
                 "User Secret key=" + user.key_path + "\nUser Certificate=" + user.cert_path +
                     "\nAbonents dir=" + box_->abonents_dir() + "\nCA dir=" + box_->ca_dir() +
                     "\nCRL dir=" + box_->crl_dir() + "\nRND file=" + (dir_ / "rand").string() + "\n");
    }
  }
  std::vector<std::string> As(const std::string& user, std::vector<std::string> args) {
    args.insert(args.end(), {"--engine", "OpenSSL", "--param-file", (dir_ / (user + ".params")).string()});
    return args;
  }
  std::unique_ptr<zk::osslkit::Sandbox> box_;
};

TEST_F(ZkmintOpenSSL, SignedByAliceVerifiedByBobAndATamperedCopyFails) {
  fs::path doc = dir_ / "order.txt";
  WriteBytes(doc, "Payment order 17");
  ASSERT_EQ(Run(As("alice", {"sign", doc.string()})).status, 0);
  Outcome verify = Run(As("bob", {"verify", doc.string()}));
  ASSERT_EQ(verify.status, 0) << verify.err;
  EXPECT_TRUE(Contains(verify.out, box_->user("alice").uid)) << verify.out;

  fs::path tampered = dir_ / "tampered.txt";
  WriteBytes(tampered, "Payment order 18");
  Outcome bad = Run(As("bob", {"verify", "--signature", doc.string() + ".sig", tampered.string()}));
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(Contains(bad.err, "VerifyData failed with code")) << bad.err;
}

TEST_F(ZkmintOpenSSL, EncryptedForBobOnlyBobDecryptsAndRussianTextsArriveAsUtf8) {
  fs::path plain = dir_ / "plain.bin", sealed = dir_ / "sealed.bin", opened = dir_ / "opened.bin";
  WriteBytes(plain, AllBytes());
  ASSERT_EQ(Run(As("alice", {"encrypt", "--recipients", box_->user("bob").uid, "--out", sealed.string(),
                             plain.string()}))
                .status,
            0);
  Outcome decrypt = Run(As("bob", {"decrypt", "--out", opened.string(), sealed.string()}));
  ASSERT_EQ(decrypt.status, 0) << decrypt.err;
  EXPECT_EQ(ReadText(opened), AllBytes());

  Outcome unknown = Run(As("alice", {"encrypt", "--recipients", "FFFF", plain.string()}));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(Contains(unknown.err, "EncodeData failed with code -32: Список абонентов не содержит сертификата"))
      << unknown.err;
  EXPECT_TRUE(unknown.out.empty()) << "nothing is written when encryption fails";
}
#endif

}  // namespace
