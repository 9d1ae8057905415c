// Keeps docs/simulated-machine.md's list of machine.ini keys the table's:
//   machine_keys_doc --check <doc>   exit 1 (and say so) when the list is not current
//   machine_keys_doc --write <doc>   rewrite the list between its markers
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "simulated/machine_keys.h"

namespace {

constexpr const char* kBegin =
    "<!-- machine.ini keys: generated from simulated/machine_keys.h by machine_keys_doc --write -->\n";
constexpr const char* kEnd = "<!-- machine.ini keys: end -->\n";

std::string cell(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

std::string keyList() {
  std::string out = kBegin;
  out += "\n| section | key | default | meaning |\n|---|---|---|---|\n";
  for (const simulated::MachineKey& row : simulated::kMachineKeys)
    out += "| `[" + std::string(row.section) + "]` | `" + std::string(row.key) +
           (row.key.ends_with('.') ? "<program>" : "") + "` | " +
           (row.fallback.empty() ? std::string("(empty)") : "`" + cell(row.fallback) + "`") + " | " +
           cell(row.meaning) + " |\n";
  return out + "\n" + kEnd;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "--check" && mode != "--write") {
    std::fputs("usage: machine_keys_doc --check|--write <docs/simulated-machine.md>\n", stderr);
    return 3;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::string doc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t begin = doc.find(kBegin), end = doc.find(kEnd);
  if (!in || begin == std::string::npos || end == std::string::npos || end < begin) {
    std::fprintf(stderr, "%s has no machine.ini key list between its markers\n", argv[2]);
    return 1;
  }
  const std::string current = doc.substr(begin, end + std::string(kEnd).size() - begin);
  if (mode == "--check") {
    if (current == keyList()) return 0;
    std::fprintf(stderr, "%s: the machine.ini key list is not the table's; run machine_keys_doc --write %s\n",
                 argv[2], argv[2]);
    return 1;
  }
  std::ofstream(argv[2], std::ios::binary)
      << doc.substr(0, begin) + keyList() + doc.substr(begin + current.size());
  return 0;
}
