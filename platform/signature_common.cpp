#include <array>
#include <string>

#include "platform/certificate_subject.h"
#include "platform/signature.h"

namespace platform {

namespace {

struct OidName {
  std::string_view oid;
  std::string_view name;
};

// OpenSSL's short names for the attributes certificates carry; the win32
// backend has only OIDs, so both name them from here.
constexpr std::array kNames = {
    OidName{"2.5.4.3", "CN"},
    OidName{"2.5.4.4", "SN"},
    OidName{"2.5.4.5", "serialNumber"},
    OidName{"2.5.4.6", "C"},
    OidName{"2.5.4.7", "L"},
    OidName{"2.5.4.8", "ST"},
    OidName{"2.5.4.9", "street"},
    OidName{"2.5.4.10", "O"},
    OidName{"2.5.4.11", "OU"},
    OidName{"2.5.4.12", "title"},
    OidName{"2.5.4.15", "businessCategory"},
    OidName{"2.5.4.17", "postalCode"},
    OidName{"2.5.4.42", "GN"},
    OidName{"2.5.4.97", "organizationIdentifier"},
    OidName{"1.2.840.113549.1.9.1", "emailAddress"},
    OidName{"0.9.2342.19200300.100.1.1", "UID"},
    OidName{"0.9.2342.19200300.100.1.25", "DC"},
    OidName{"1.3.6.1.4.1.311.60.2.1.1", "jurisdictionL"},
    OidName{"1.3.6.1.4.1.311.60.2.1.2", "jurisdictionST"},
    OidName{"1.3.6.1.4.1.311.60.2.1.3", "jurisdictionC"},
};

// A subject is chosen by whoever made the certificate and ends up in a log
// line: nothing in it may start a new line or move the cursor.
void appendShown(std::string& out, std::string_view value) {
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
}

}  // namespace

std::string subjectText(const std::vector<NameAttribute>& attributes) {
  std::string out;
  for (auto it = attributes.rbegin(); it != attributes.rend(); ++it) {
    if (!out.empty()) out += ", ";
    std::string_view name = it->oid;
    for (const OidName& known : kNames) {
      if (known.oid == it->oid) name = known.name;
    }
    appendShown(out, name);
    out += '=';
    appendShown(out, it->value);
  }
  return out;
}

std::string hexDigest(const Sha256Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(digest.size() * 2);
  for (const uint8_t byte : digest) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  }
  return out;
}

}  // namespace platform
