#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/json_text.h"
#include "simulated/machine.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using simulated::MachineIni;
using testing_machine::TestMachine;

constexpr std::string_view kSample =
    "; a Kestrel notebook\n"
    "[User]\n"
    "LCID = 1031            ; German\n"
    "answers =              ; none yet\n"
    "[time]\n"
    "scale = 0.25\n"
    "timeout_scale=0\n"
    "[pnp]\n"
    "device = PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1 | 31.0.21001.45002   ; first\n"
    "device = PCI\\VEN_10DE&DEV_2520 |\n"
    "[hid]\n"
    "other = \\\\?\\hid#vid_046d&pid_c52b&mi_00#7&1b2c3d4e&0&0000#{4d1e55b2}\n"
    "[dock]\n"
    "text = MB:A1;SN:B2;PRO:;PNUM:;\n"
    "fail_sets = 0x10\n"
    "present = no\n"
    "[acpi]\n"
    "# the driver is there\n"
    "dsts = 0x00010003\n"
    "dsts_args = -1\n"
    "devs_reply = 4x\n"
    "[nvapi]\n"
    "present = yes\n"
    "revision = 0xFFFFFFFF\n"
    "[amdvbflash]\n"
    "ai_hang = YES\n"
    "flash_completes = maybe\n";

TEST(MachineIni, ReadsValuesCommentsAndRepeatsAsTheMachineFileWritesThem) {
  const MachineIni ini = MachineIni::parse(kSample);
  EXPECT_EQ(ini.getInt("user", "lcid", 1033), 1031);
  EXPECT_EQ(ini.get("USER", "answers", "fallback"), "");
  EXPECT_EQ(ini.get("user", "missing", "fallback"), "fallback");
  EXPECT_DOUBLE_EQ(ini.getDouble("time", "scale", 1), 0.25);
  EXPECT_DOUBLE_EQ(ini.getDouble("time", "timeout_scale", 1), 0);
  EXPECT_EQ(ini.getAll("pnp", "device"),
            (std::vector<std::string>{"PCI\\VEN_1002&DEV_73DF&SUBSYS_3A2F6A3D&REV_C1 | 31.0.21001.45002",
                                      "PCI\\VEN_10DE&DEV_2520 |"}));
  // '#' and ';' inside a value are data; only after a blank do they start a comment.
  EXPECT_EQ(ini.get("hid", "other", ""), "\\\\?\\hid#vid_046d&pid_c52b&mi_00#7&1b2c3d4e&0&0000#{4d1e55b2}");
  EXPECT_EQ(ini.get("dock", "text", ""), "MB:A1;SN:B2;PRO:;PNUM:;");
  EXPECT_EQ(ini.getInt("dock", "fail_sets", 0), 16);
  EXPECT_EQ(ini.getInt("acpi", "dsts", 0), 0x00010003);
  EXPECT_EQ(ini.getInt("acpi", "dsts_args", 1), -1);
  EXPECT_EQ(ini.getInt("acpi", "devs_reply", 7), 7);
  EXPECT_EQ(ini.getInt("nvapi", "revision", 0), 0xFFFFFFFFLL);
  EXPECT_TRUE(ini.getBool("amdvbflash", "ai_hang", false));
  EXPECT_TRUE(ini.getBool("amdvbflash", "flash_completes", true));
  EXPECT_FALSE(ini.getBool("amdvbflash", "flash_completes", false));
}

TEST(MachineIni, SectionsSayWhetherHardwareIsThere) {
  const MachineIni ini = MachineIni::parse(kSample);
  EXPECT_TRUE(ini.present("acpi"));  // no present key
  EXPECT_TRUE(ini.present("nvapi"));
  EXPECT_FALSE(ini.present("dock"));  // present = no
  EXPECT_TRUE(ini.hasSection("dock"));
  EXPECT_FALSE(ini.present("power"));
  EXPECT_TRUE(MachineIni::parse("[power]\n").present("power"));
  EXPECT_TRUE(MachineIni::parse("").sections.empty());
}

TEST(MachineIni, LoadReadsTheFileAfreshAndAMissingRootIsCreated) {
  TestMachine machine;
  const fs::path nested = machine.root() / "not" / "yet";
  setenv("OVVB_MACHINE", nested.c_str(), 1);
  EXPECT_EQ(simulated::machineRoot(), nested.string());
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_TRUE(MachineIni::load().sections.empty());
  testing_machine::writeNativeFile(nested / "machine.ini", "[user]\nlcid = 1049\n");
  EXPECT_EQ(MachineIni::load().getInt("user", "lcid", 0), 1049);
}

struct UpdateCase {
  const char* name;
  const char* before;
  const char* section;
  const char* key;
  const char* value;
  const char* after;
};

TEST(MachineIni, UpdateRewritesOneKeyAndKeepsTheRest) {
  const UpdateCase cases[] = {
      {"value and comment", "; head\n[dock]\nfail_sets = 3   ; counts down\nfail_gets = 1\n", "dock",
       "fail_sets", "2", "; head\n[dock]\nfail_sets = 2   ; counts down\nfail_gets = 1\n"},
      {"empty value keeps comment", "[user]\nanswers =      ; clicks\n", "user", "answers", "A:button1",
       "[user]\nanswers =      A:button1 ; clicks\n"},
      {"case of names", "[Dock]\nFail_Sets=3\n", "dock", "fail_sets", "0", "[Dock]\nFail_Sets=0\n"},
      {"key added to its section", "[user]\nlcid = 1033\n\n[time]\nscale = 0\n", "user", "answers", "x",
       "[user]\nlcid = 1033\nanswers = x\n\n[time]\nscale = 0\n"},
      {"section added", "[user]\nlcid = 1033", "amdvbflash", "version", "1.2",
       "[user]\nlcid = 1033\n\n[amdvbflash]\nversion = 1.2\n"},
      {"empty file", "", "processes", "no_process.a.exe", "0", "[processes]\nno_process.a.exe = 0\n"},
      {"CRLF kept", "[dock]\r\nblock = \r\ntext = x\r\n", "dock", "block", "FF",
       "[dock]\r\nblock = FF\r\ntext = x\r\n"},
      {"same key in another section untouched", "[a]\nk = 1\n[b]\nk = 1\n", "b", "k", "2",
       "[a]\nk = 1\n[b]\nk = 2\n"},
      {"repeated key: the one read wins", "[pnp]\nfail = none\nfail = before_match\n", "pnp", "fail", "none",
       "[pnp]\nfail = none\nfail = none\n"},
  };
  for (const UpdateCase& c : cases) {
    TestMachine machine;
    machine.writeMachineIni(c.before);
    ASSERT_TRUE(MachineIni::update(c.section, c.key, c.value)) << c.name;
    EXPECT_EQ(machine.readFile("machine.ini"), c.after) << c.name;
    EXPECT_EQ(MachineIni::load().get(c.section, c.key, "?"), c.value) << c.name;
    EXPECT_EQ(std::distance(fs::directory_iterator(machine.root()), fs::directory_iterator()), 2) << c.name;
  }
}

TEST(MachineIni, UpdateRefusesTextThatWouldAddLines) {
  TestMachine machine;
  machine.writeMachineIni("[user]\nanswers =\n");
  EXPECT_FALSE(MachineIni::update("user", "answers", "x\n[dock]\npresent = yes"));
  EXPECT_FALSE(MachineIni::update("user", "a=b", "x"));
  EXPECT_EQ(machine.readFile("machine.ini"), "[user]\nanswers =\n");
}

TEST(Trace, WritesOneJsonObjectPerLineWithTheEventFirst) {
  TestMachine machine;
  simulated::Trace("hid.set_feature")
      .str("path", "\\\\?\\hid#vid_6a3d")
      .num("length", -300)
      .boolean("ok", false)
      .raw("buttons", "{\"button1\":\"OK\"}")
      .write();
  simulated::Trace("progress").num("value", 10).write();
  const auto lines = machine.traceLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(
      lines[0],
      "{\"event\":\"hid.set_feature\",\"path\":\"\\\\\\\\?\\\\hid#vid_6a3d\",\"length\":-300,\"ok\":false,"
      "\"buttons\":{\"button1\":\"OK\"}}");
  EXPECT_EQ(lines[1], "{\"event\":\"progress\",\"value\":10}");

  // The reader gives back what was written.
  const simulated::TraceRead read = simulated::readTraceFile(machine.root() / "trace.jsonl");
  ASSERT_EQ(read.events.size(), 2u);
  const simulated::TraceEvent& hid = read.events[0];
  EXPECT_EQ(hid.event, "hid.set_feature");
  EXPECT_EQ(hid.get("path"), "\\\\?\\hid#vid_6a3d");
  EXPECT_EQ(hid.number("length", 0), -300);
  EXPECT_EQ(hid.get("ok"), "false");
  EXPECT_EQ(hid.members("buttons"), (std::map<std::string, std::string>{{"button1", "OK"}}));
  EXPECT_FALSE(hid.has("value"));
  EXPECT_EQ(read.events[1].number("value", 0), 10);
  EXPECT_TRUE(read.unreadableLines.empty());
}

TEST(Trace, ReaderRefusesWhatTheWriterNeverWrites) {
  const std::string longest(simulated::kMaxTraceLineBytes - 19, 'x');  // one byte over
  const simulated::TraceRead read = simulated::readTrace(
      "{\"event\":\"a\", \"n\": 1 }\r\n"                     // blanks and CRLF are fine
      "\n"                                                   // a blank line is no event
      "{\"event\":\"b\",\"s\":\"cut\n"                       // 3: cut short
      "{\"n\":1}\n"                                          // 4: no event
      "{\"event\":\"c\",\"o\":{\"p\":{\"q\":1}}}\n"          // 5: nested twice
      "{\"event\":\"d\",\"v\":bad}\n"                        // 6: not a JSON value
      "{\"event\":\"e\"} x\n"                                // 7: text after the object
      "{\"event\":\"f\",\"s\":\"\\ud83d\\ude00\\ud800\"}\n"  // a pair and a lone surrogate
      "{\"event\":\"g\",\"s\":\"" +
      longest +
      "\"}\n"                              // 9: over the line bound
      "{\"event\":\"h\",\"s\":\"\\q\"}");  // 10: no such escape
  std::vector<std::string> names;
  for (const auto& e : read.events) names.push_back(e.event);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "f"}));
  EXPECT_EQ(read.events[0].number("n", 0), 1);
  EXPECT_EQ(read.events[1].get("s"), "\xF0\x9F\x98\x80\xEF\xBF\xBD");
  EXPECT_EQ(read.unreadableLines, (std::vector<size_t>{3, 4, 5, 6, 7, 9, 10}));
  EXPECT_TRUE(simulated::readTraceFile("/nonexistent/trace.jsonl").events.empty());
}

TEST(JsonEscape, GivesValidJsonForAnyTextAndReadsBackAsWritten) {
  struct Case {
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"quote \" and \\", "quote \\\" and \\\\"},
      {"line\r\nbreak\ttab", "line\\r\\nbreak\\ttab"},
      {std::string("nul\0byte", 8), "nul\\u0000byte"},
      {"\x1f\x7f", "\\u001f\\u007f"},
      {"\xE4\xB8\x8A\xE5\x8D\x88 \xF0\x9F\x98\x80", "\xE4\xB8\x8A\xE5\x8D\x88 \xF0\x9F\x98\x80"},
      // Not UTF-8: stray continuation, Latin-1, overlong, surrogate, truncated.
      {"a\x80z", "a\\ufffdz"},
      {"caf\xE9", "caf\\ufffd"},
      {"\xC0\xAF", "\\ufffd\\ufffd"},
      {"\xED\xA0\x80", "\\ufffd\\ufffd\\ufffd"},
      {"\xE4\xB8", "\\ufffd"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(simulated::jsonEscape(c.text), c.json) << c.json;
    const std::string quoted = "\"" + c.json + "\"";
    size_t at = 0;
    const auto back = platform::readJsonString(quoted, at);
    ASSERT_TRUE(back.has_value()) << c.json;
    EXPECT_EQ(at, quoted.size());
    if (c.json.find("ufffd") == std::string::npos) {
      EXPECT_EQ(*back, c.text) << c.json;
    }
  }
}

TEST(Trace, LinesOfConcurrentWritersNeverInterleave) {
  TestMachine machine;
  const std::string padding(3000, 'x');  // longer than a pipe's atomic size
  std::vector<pid_t> children;
  for (int p = 0; p < 4; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < 50; ++i) simulated::Trace("w").num("p", p).str("pad", padding).write();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  const auto lines = machine.traceLines();
  ASSERT_EQ(lines.size(), 200u);
  for (const std::string& line : lines) {
    ASSERT_EQ(line.size(), padding.size() + 28) << line.substr(0, 60);
    EXPECT_EQ(line.rfind("{\"event\":\"w\",\"p\":", 0), 0u);
  }
}

}  // namespace
