// A certificate's subject as one line of text, built the same way by both
// signature backends from the attributes each platform decodes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct NameAttribute {
  std::string oid;    // dotted, e.g. "2.5.4.3"
  std::string value;  // UTF-8
};

// `attributes` in the order the certificate encodes them (least specific
// first); the text names the most specific first: "CN=x, O=y, C=z".
std::string subjectText(const std::vector<NameAttribute>& attributes);

}  // namespace platform
