#include "demo_table.h"

#include "cp1251_utf8.h"

namespace zkmint {
namespace {

// Long enough for the gist of an engine's message, short enough for one line.
constexpr size_t kShortTextChars = 64;

std::string Short(const std::string& text) { return Utf8Prefix(text, kShortTextChars); }

}  // namespace

void DemoTable::PrintHeader() {
  std::fprintf(out_, "%-26s  %-38s  %5s  %s\n", "ENGINE", "OPERATION", "CODE", "RESULT");
}

void DemoTable::Row(const std::string& engine, const std::string& operation, const std::string& code,
                    bool asExpected, const std::string& text) {
  if (!asExpected) ++unexpected_;
  std::fprintf(out_, "%-26s  %-38s  %5s  %s%s\n", engine.c_str(), operation.c_str(), code.c_str(),
               asExpected ? "" : "UNEXPECTED: ", text.c_str());
  std::fflush(out_);
}

bool DemoSteps::Succeeds(Engine& engine, const std::string& operation, int32_t code, const std::string& detail,
                         const std::string& problem) {
  bool ok = code == 0 && problem.empty();
  std::string text =
      code != 0 ? Short(engine.ErrorText(code)) : ok ? "ok" + (detail.empty() ? "" : ": " + detail) : problem;
  table_.Row(label_, operation, std::to_string(code), ok, text);
  return ok;
}

bool DemoSteps::Fails(Engine& engine, const std::string& operation, int32_t code, const std::string& why) {
  bool ok = code != 0;
  std::string text = ok ? "fails as it must (" + why + "): " + Short(engine.ErrorText(code)) : "succeeded, but " + why;
  table_.Row(label_, operation, std::to_string(code), ok, text);
  return ok;
}

void DemoSteps::Done(const std::string& operation, const std::string& detail) {
  table_.Row(label_, operation, "-", true, Short(detail));
}

void DemoSteps::NotAvailable(const std::string& operation, const std::string& why) {
  table_.Row(label_, operation, "-", true, "not available: " + why);
}

void DemoSteps::Unexpected(const std::string& operation, const std::string& why) {
  table_.Row(label_, operation, "-", false, why);
}

}  // namespace zkmint
