#include "resources/message_catalogue.h"

#include "platform/resources.h"
#include "resources/message_format.h"

namespace wendrel {

std::string LoadMessage(uint32_t id) { return platform::LoadResourceString(id); }

std::string ComposeMessage(uint32_t id) { return LoadMessage(kMsgPrefix) + LoadMessage(id); }

MessageId LdapErrorMessageId(int code) {
  switch (code) {
    case 0x00: return kMsgLdapSuccessful;
    case 0x10: return kMsgNoSuchAttribute;
    case 0x20: return kMsgInvalidScopeContext;
    case 0x21: return kMsgAliasProblem;
    case 0x24: return kMsgAliasDerefProblem;
    case 0x30: return kMsgInappropriateAuth;
    case 0x31: return kMsgInvalidCredentials;
    case 0x32: return kMsgInsufficientAccess;
    case 0x33: return kMsgLdapBusy;
    case 0x34: return kMsgUnavailable;
    case 0x51: return kMsgServerUnavailable;
    case 0x55: return kMsgSearchTimeout;
    case 0x5A: return kMsgNoMemory;
    default: return kMsgLdapError;
  }
}

std::string LdapErrorText(int code) {
  const MessageId id = LdapErrorMessageId(code);
  const std::string text = LoadMessage(id);
  // Only the generic text is a format; every other text is shown as it
  // stands, even when a language module put a '%' into it.
  if (id != kMsgLdapError) return text;
  return FormatWithInteger(text, static_cast<int32_t>(code));
}

std::string LoadDialogLabel(uint32_t id, const std::string& tree) {
  const std::string text = LoadMessage(id);
  if (id != kMsgContextSelection) return text;
  return FormatWithText(text, tree);
}

}  // namespace wendrel
