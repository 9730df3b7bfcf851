// wendrel-doctor audit [--json]: the configuration an administrator should
// look at, each finding with its key, value and reason. Exit status 0 when
// nothing was found, 1 otherwise.

#include <iostream>
#include <string>
#include <vector>

#include "audit.h"
#include "commands.h"
#include "json_writer.h"
#include "text.h"

namespace wendrel {
namespace doctor {
namespace {

constexpr int kExitFindings = 1;

void WriteJson(const std::vector<Finding>& findings, std::ostream& out) {
  JsonWriter json(&out);
  json.BeginObject();
  json.Key("findings");
  json.BeginArray();
  for (const Finding& finding : findings) {
    json.BeginObject();
    json.Key("code");
    json.String(finding.code);
    json.Key("key");
    json.String(AnsiToUtf8(finding.key));
    json.Key("value");
    if (finding.has_value) {
      json.String(AnsiToUtf8(finding.value));
    } else {
      json.Null();
    }
    json.Key("message");
    json.String(AnsiToUtf8(finding.message));
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  out << '\n';
}

void WriteText(const std::vector<Finding>& findings, std::ostream& out) {
  if (findings.empty()) {
    out << "No findings: nothing in the configuration needs a look.\n";
    return;
  }
  out << findings.size() << (findings.size() == 1 ? " finding" : " findings") << '\n';
  for (const Finding& finding : findings) {
    out << "\n[" << finding.code << "] " << AnsiToUtf8(finding.key);
    if (finding.has_value) out << "  \"" << AnsiToUtf8(finding.value) << '"';
    out << "\n  " << AnsiToUtf8(finding.message) << '\n';
  }
}

}  // namespace

int RunAuditCommand(const std::vector<std::string>& args) {
  bool json = false;
  if (!ParseJsonFlagOnly("audit", args, &json)) return kExitBadArguments;
  const std::vector<Finding> findings = AuditConfiguration();
  if (json) {
    WriteJson(findings, std::cout);
  } else {
    WriteText(findings, std::cout);
  }
  return findings.empty() ? kExitOk : kExitFindings;
}

}  // namespace doctor
}  // namespace wendrel
