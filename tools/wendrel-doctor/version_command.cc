// wendrel-doctor version [--json]: the installed extension's version, where
// it is, and who signed it. Exit status 0, or 1 when there is no installed
// extension to read.

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "extension_identity.h"
#include "json_writer.h"

namespace wendrel {
namespace doctor {
namespace {

constexpr int kExitNotFound = 1;

const char* SignatureWord(Signature signature) {
  return signature == Signature::kUnsigned ? "unsigned" : "not applicable";
}

void WriteJson(const ExtensionIdentity& identity, std::ostream& out) {
  JsonWriter json(&out);
  json.BeginObject();
  json.Key("version");
  json.String(identity.version);
  json.Key("path");
  json.String(identity.path);
  json.Key("signer");
  if (identity.signature == Signature::kSigned) {
    json.BeginObject();
    json.Key("subject");
    json.String(identity.signer_subject);
    json.Key("thumbprint");
    json.String(identity.signer_thumbprint);
    json.EndObject();
  } else {
    json.String(SignatureWord(identity.signature));
  }
  json.EndObject();
  out << '\n';
}

void WriteText(const ExtensionIdentity& identity, std::ostream& out) {
  out << "version: " << identity.version << "\npath: " << identity.path << '\n';
  if (identity.signature == Signature::kSigned) {
    out << "signer: " << identity.signer_subject
        << "\nsigner's SHA-256 thumbprint: " << identity.signer_thumbprint << '\n';
  } else {
    out << "signer: " << SignatureWord(identity.signature) << '\n';
  }
}

}  // namespace

int RunVersionCommand(const std::vector<std::string>& args) {
  bool json = false;
  if (!ParseJsonFlagOnly("version", args, &json)) return kExitBadArguments;
  ExtensionIdentity identity;
  std::string error;
  if (!IdentifyInstalledExtension(&identity, &error)) {
    std::cerr << "wendrel-doctor version: " << error << '\n';
    return kExitNotFound;
  }
  if (json) {
    WriteJson(identity, std::cout);
  } else {
    WriteText(identity, std::cout);
  }
  return kExitOk;
}

}  // namespace doctor
}  // namespace wendrel
