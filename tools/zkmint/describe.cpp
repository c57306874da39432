#include "describe.h"

#include <cctype>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "commands.h"
#include "cp1251_utf8.h"
#include "engine.h"

namespace zkmint {
namespace {

struct CodeText {
  int32_t code;
  std::string text;
  int32_t last = 0;  // a range code..last whose texts the toolkit words after a common lead
};

// Runs at least this long of consecutive codes that share the lead of the answer for unknown
// codes are the toolkit's own texts passed through (OpenSSL's reasons, say); they are shown as
// one range, so the page does not depend on the wording of one toolkit release.
constexpr size_t kShortestToolkitRun = 8;

// The lead of a text: up to and including its first ": " or ". ".
std::string Lead(const std::string& text) {
  size_t colon = text.find(": "), stop = text.find(". ");
  size_t end = std::min(colon, stop);
  return end == std::string::npos ? std::string() : text.substr(0, end + 2);
}

std::vector<CodeText> CollapseToolkitRuns(const std::vector<CodeText>& codes, const std::string& other) {
  std::vector<CodeText> out;
  const std::string otherLead = Lead(other);
  for (size_t i = 0; i < codes.size();) {
    std::string lead = Lead(codes[i].text);
    if (lead != otherLead) lead.clear();
    size_t j = i + 1;
    while (!lead.empty() && j < codes.size() && codes[j].code == codes[j - 1].code + 1 &&
           Lead(codes[j].text) == lead)
      ++j;
    if (j - i >= kShortestToolkitRun) {
      out.push_back({codes[i].code, lead + "(the toolkit's text for the code)", codes[j - 1].code});
    } else {
      out.insert(out.end(), codes.begin() + static_cast<long>(i), codes.begin() + static_cast<long>(j));
    }
    i = j;
  }
  return out;
}

std::string CodeLabel(const CodeText& c) {
  return c.last ? std::to_string(c.code) + ".." + std::to_string(c.last) : std::to_string(c.code);
}

struct Limit {
  const char* name;
  int32_t value;
};

struct EngineDescription {
  std::string asked;      // the type string the engine was created with
  std::string reported;   // what GetCryptoEngineType answers
  std::vector<EngineParam> params;
  std::vector<Limit> limits;
  std::string otherCodes;  // the text any code outside the table gets, the code shown as {code}
  std::vector<CodeText> codes;
  bool alias = false;  // the same engine as an earlier type string; described there
};

// A code's text with its own number replaced by {code}, so that the generic answer for unknown
// codes ("CRYPTO ENGINE ERROR : -5") reads the same for every code.
std::string Generic(const std::string& text, int32_t code) {
  std::string number = std::to_string(code), out;
  for (size_t i = 0; i < text.size();) {
    bool digitBefore = i > 0 && (isdigit(static_cast<unsigned char>(text[i - 1])) || text[i - 1] == '-');
    size_t end = i + number.size();
    bool digitAfter = end < text.size() && isdigit(static_cast<unsigned char>(text[end]));
    if (!digitBefore && !digitAfter && text.compare(i, number.size(), number) == 0) {
      out += "{code}";
      i = end;
    } else {
      out += text[i++];
    }
  }
  return out;
}

EngineDescription Probe(const zkhost::ZkApi& api, const std::string& type, Engine& engine) {
  EngineDescription d;
  d.asked = type;
  d.reported = engine.Type();
  d.params = engine.Params();
  ZkEngine h = engine.Handle();
  d.limits = {{"GetMaxEncodeAddition", api.GetMaxEncodeAddition(h)},
              {"GetMaxSignatureLength", api.GetMaxSignatureLength(h)},
              {"GetMaxUIDLength", api.GetMaxUIDLength(h)},
              {"GetMaxCryptoParamNameLength", api.GetMaxCryptoParamNameLength(h)},
              {"GetMaxCryptoParamValueLength", api.GetMaxCryptoParamValueLength(h)},
              {"GetMaxErrorStringLength", api.GetMaxErrorStringLength(h)}};
  // Two far codes that no engine defines give the answer for codes outside the table.
  const int32_t farAway = 987654321;
  d.otherCodes = Generic(engine.ErrorText(farAway), farAway);
  for (int32_t code = kDescribeLowestCode; code <= kDescribeHighestCode; ++code) {
    if (code == 0) continue;
    std::string text = engine.ErrorText(code);
    if (Generic(text, code) != d.otherCodes) d.codes.push_back({code, text});
  }
  d.codes = CollapseToolkitRuns(d.codes, d.otherCodes);
  for (const CodeText& c : d.codes)
    if (c.last) d.otherCodes = c.text;  // unknown codes get the toolkit's text too
  return d;
}

void PrintText(const EngineDescription& d) {
  std::printf("%s\n", Cp1251ToUtf8(d.asked).c_str());
  if (d.reported != d.asked) std::printf("  builds the engine \"%s\"\n", Cp1251ToUtf8(d.reported).c_str());
  if (d.alias) {
    std::printf("\n");
    return;
  }
  std::printf("  parameters:\n");
  for (const EngineParam& p : d.params)
    std::printf("    %3d  %-34s %s\n", static_cast<int>(p.index), Cp1251ToUtf8(p.name).c_str(),
                Cp1251ToUtf8(p.value).c_str());
  std::printf("  limits:\n");
  for (const Limit& l : d.limits) std::printf("    %-30s %d\n", l.name, static_cast<int>(l.value));
  std::printf("  codes:\n");
  for (const CodeText& c : d.codes) std::printf("    %10s  %s\n", CodeLabel(c).c_str(), c.text.c_str());
  std::printf("    other   %s\n\n", d.otherCodes.c_str());
}

// Markdown table cells: a pipe would end the cell, and a line break the row.
std::string Cell(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '|') out += "\\|";
    else if (c == '\n' || c == '\r') out += ' ';
    else out += c;
  }
  return out.empty() ? " " : out;
}

void PrintMarkdown(const EngineDescription& d) {
  std::printf("## %s\n\n", Cell(Cp1251ToUtf8(d.asked)).c_str());
  if (d.reported != d.asked)
    std::printf("Builds the engine \"%s\"%s.\n\n", Cell(Cp1251ToUtf8(d.reported)).c_str(),
                d.alias ? ", described above" : "");
  if (d.alias) return;
  std::printf("| # | parameter | default |\n|---|---|---|\n");
  for (const EngineParam& p : d.params)
    std::printf("| %d | %s | %s |\n", static_cast<int>(p.index), Cell(Cp1251ToUtf8(p.name)).c_str(),
                Cell(Cp1251ToUtf8(p.value)).c_str());
  std::printf("\n| limit | bytes |\n|---|---|\n");
  for (const Limit& l : d.limits) std::printf("| %s | %d |\n", l.name, static_cast<int>(l.value));
  std::printf("\n| code | text |\n|---|---|\n");
  for (const CodeText& c : d.codes) std::printf("| %s | %s |\n", CodeLabel(c).c_str(), Cell(c.text).c_str());
  std::printf("| other | %s |\n\n", Cell(d.otherCodes).c_str());
}

std::string Json(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintJson(const EngineDescription& d, bool last) {
  std::printf("  {\"type\": %s, \"engine\": %s,\n   \"parameters\": [", Json(Cp1251ToUtf8(d.asked)).c_str(),
              Json(Cp1251ToUtf8(d.reported)).c_str());
  for (size_t i = 0; i < d.params.size(); ++i)
    std::printf("%s\n     {\"index\": %d, \"name\": %s, \"default\": %s}", i ? "," : "",
                static_cast<int>(d.params[i].index), Json(Cp1251ToUtf8(d.params[i].name)).c_str(),
                Json(Cp1251ToUtf8(d.params[i].value)).c_str());
  std::printf("],\n   \"limits\": {");
  for (size_t i = 0; i < d.limits.size(); ++i)
    std::printf("%s%s: %d", i ? ", " : "", Json(d.limits[i].name).c_str(), static_cast<int>(d.limits[i].value));
  std::printf("},\n   \"codes\": [");
  for (size_t i = 0; i < d.codes.size(); ++i)
    std::printf("%s\n     {\"code\": %d, \"last\": %d, \"text\": %s}", i ? "," : "",
                static_cast<int>(d.codes[i].code),
                static_cast<int>(d.codes[i].last ? d.codes[i].last : d.codes[i].code), Json(d.codes[i].text).c_str());
  std::printf("],\n   \"other\": %s}%s\n", Json(d.otherCodes).c_str(), last ? "" : ",");
}

}  // namespace

int Describe(const zkhost::ZkApi& api, const Options& options) {
  const std::string format = options.format.empty() ? "text" : options.format;
  if (format != "text" && format != "markdown" && format != "json") {
    std::fprintf(stderr, "zkmint: --format must be text, markdown or json, not '%s'\n", format.c_str());
    return kExitUsage;
  }
  std::vector<EngineDescription> described;
  for (const std::string& type : ListEngineTypes(api)) {
    if (!options.engine.empty() && Cp1251ToUtf8(type) != options.engine) continue;
    std::unique_ptr<Engine> engine = Engine::Create(api, type);
    if (!engine) continue;
    EngineDescription d = Probe(api, type, *engine);
    for (const EngineDescription& earlier : described) d.alias |= d.reported != d.asked && earlier.asked == d.reported;
    described.push_back(d);
  }
  if (described.empty()) {
    std::fprintf(stderr, "zkmint: the library builds no engine%s\n",
                 options.engine.empty() ? "" : (" of type '" + options.engine + "'").c_str());
    return kExitFailed;
  }
  if (format == "markdown")
    std::printf("# Engines\n\nWhat each engine of this build announces through the exports "
                "(`zkmint describe --format markdown`). Codes from %d to %d are listed when their text "
                "differs from the engine's answer for other codes.\n\n",
                static_cast<int>(kDescribeLowestCode), static_cast<int>(kDescribeHighestCode));
  if (format == "json") std::printf("[\n");
  for (size_t i = 0; i < described.size(); ++i) {
    if (format == "text") PrintText(described[i]);
    else if (format == "markdown") PrintMarkdown(described[i]);
    else PrintJson(described[i], i + 1 == described.size());
  }
  if (format == "json") std::printf("]\n");
  return kExitOk;
}

}  // namespace zkmint
