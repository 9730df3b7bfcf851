#include "search/server_events.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "directory/ldap_conn.h"
#include "platform/codepage.h"
#include "platform/event_log.h"
#include "platform/ldap.h"
#include "platform/server_probe.h"
#include "resources/message_catalogue.h"

namespace wendrel {
namespace {

using platform::EventId;

// The catalogue's text of an LDAP result code with the code itself, which
// is what an administrator looks up: "Invalid credentials, code 0x31".
std::string DescribeCode(int code) {
  std::string text = LdapErrorText(code);
  if (!text.empty() && text.back() == '.') text.pop_back();
  char number[32];
  std::snprintf(number, sizeof number, "code 0x%x", static_cast<unsigned>(code));
  return text.empty() ? number : text + ", " + number;
}

// The connection time-out in milliseconds, bounded so that the product
// cannot overflow whatever the registry holds.
int ProbeMilliseconds(int32_t seconds) {
  return std::min<int32_t>(std::max(0, seconds), 600) * 1000;
}

}  // namespace

std::string ServerEventName(const std::string& server, int port) {
  return server + ":" + std::to_string(port);
}

void ReportServerNotTried(const std::string& server_id, const std::string& why) {
  platform::ReportEvent(EventId::kServerNoConnection, {server_id, why});
}

void ReportBindOutcome(const std::string& server_id, const BoundServer& server,
                       const LDAPConn& conn, bool bound) {
  const int code = conn.LastBindCode();
  if (conn.LastBindCertificateRefused()) {
    // libldap (and wldap32) say only that the handshake failed; the verdict
    // comes from a handshake of our own, as the doctor judges it. It runs
    // only for a server whose certificate was just refused, and only when
    // its event can be written: a certificate refused at every login costs
    // one more handshake an hour, not one more a login.
    if (platform::EventWrittenRecently(EventId::kCertificateRefused, server_id)) return;
    const platform::CertificateVerdict verdict =
        platform::ProbeServerCertificate(server.name, server.port, server.certificate,
                                         ProbeMilliseconds(server.connection_timeout));
    platform::ReportEvent(
        EventId::kCertificateRefused,
        {server_id, platform::CertificateVerdictName(verdict), server.certificate});
  } else if (!conn.LastBindAnswered()) {
    const std::string why =
        code == platform::kLdapTimeout
            ? "no answer within " + std::to_string(server.connection_timeout) +
                  (server.connection_timeout == 1 ? " second" : " seconds")
            : LdapErrorText(code);
    platform::ReportEvent(EventId::kServerNoConnection, {server_id, why});
  } else if (code != platform::kLdapSuccess) {
    const std::string& dn = server.proxy_dn;
    platform::ReportEvent(EventId::kServerBindRefused,
                          {server_id, dn.empty() ? "anonymous" : dn, DescribeCode(code)});
  } else if (!bound) {
    platform::ReportEvent(EventId::kServerNoTreeName, {server_id});
  }
}

void ReportOtherTree(const std::string& server_id, const std::string& server_tree) {
  // The tree name is kept as the server sent it (UTF-8); events carry ANSI.
  platform::ReportEvent(EventId::kServerOtherTree,
                        {server_id, platform::Utf8ToAnsi(server_tree, 260)});
}

void ReportNoUsableServer(const std::string& configured) {
  platform::ReportEvent(EventId::kNoUsableServer, {configured});
}

}  // namespace wendrel
