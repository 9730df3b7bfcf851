#include "platform/server_probe.h"

namespace wendrel {
namespace platform {

const char* CertificateVerdictName(CertificateVerdict verdict) {
  switch (verdict) {
    case CertificateVerdict::kTrusted:
      return "trusted";
    case CertificateVerdict::kUntrusted:
      return "untrusted";
    case CertificateVerdict::kExpired:
      return "expired";
    case CertificateVerdict::kNameMismatch:
      return "name mismatch";
    case CertificateVerdict::kUnreadable:
      return "unreadable";
    case CertificateVerdict::kUnavailable:
      break;
  }
  return "unavailable";
}

}  // namespace platform
}  // namespace wendrel
