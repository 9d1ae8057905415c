// The posix pinned folder's own promises: links, owners and modes. What every
// backend promises is tests/contract/pinned_folder_contract_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pinned_folder.h"
#include "tests/unit/test_machine.h"

namespace {

namespace fs = std::filesystem;
using platform::PinnedFolder;
using testing_machine::readNativeFile;
using testing_machine::TestMachine;
using testing_machine::writeNativeFile;

TEST(PinnedFolder, WhatStandsInTheWayIsMovedAsideNeverFollowedAndALinkAboveIsRefused) {
  TestMachine machine;
  const fs::path c = machine.root() / "drive_c";
  const fs::path programData = c / "ProgramData";
  fs::create_directories(c / "Elsewhere");
  fs::create_directories(programData);
  // Each planted by someone who may create folders under C:\ProgramData.
  const std::function<void()> plants[] = {
      [&] { fs::create_directory_symlink(c / "Elsewhere", programData / "Orvo"); },
      [&] {
        fs::create_directories(programData / "Orvo" / "VBIOS");
        ASSERT_EQ(::chown((programData / "Orvo" / "VBIOS").c_str(), 65534, 65534), 0);
      },
  };
  for (size_t i = 0; i < std::size(plants); ++i) {
    SCOPED_TRACE(i);
    fs::remove_all(programData);
    fs::create_directories(programData);
    plants[i]();
    const bool inner = i == 1;
    PinnedFolder never;
    EXPECT_EQ(never.open("C:\\ProgramData", "Orvo\\VBIOS", PinnedFolder::Make::Never).code,
              inner ? platform::kErrorInvalidOwner : platform::kErrorReparsePointEncountered);
    EXPECT_TRUE(never.movedAside().empty()) << "Make::Never changes nothing";

    PinnedFolder folder;
    const platform::Error error = folder.open("C:\\ProgramData", "Orvo\\VBIOS");
    ASSERT_FALSE(error.failed()) << error.operation << ": " << error.message;
    ASSERT_EQ(folder.movedAside().size(), 1u);
    const std::string moved = inner ? "C:\\ProgramData\\Orvo\\VBIOS" : "C:\\ProgramData\\Orvo";
    EXPECT_EQ(folder.movedAside()[0].rfind(moved + " -> " + moved + ".untrusted-", 0), 0u)
        << folder.movedAside()[0];
    struct stat info {};
    ASSERT_EQ(::lstat((programData / "Orvo" / "VBIOS").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_EQ(info.st_mode & 0777, 0700u) << "nobody else may even look into it";
    EXPECT_FALSE(fs::exists(c / "Elsewhere" / "VBIOS")) << "made a folder through the link";
  }

  fs::create_directory_symlink(c / "Elsewhere", c / "Linked");
  PinnedFolder folder;
  const platform::Error error = folder.open("C:\\Linked", "VBIOS");
  EXPECT_EQ(error.code, platform::kErrorReparsePointEncountered) << "the parent is checked too";
  EXPECT_EQ(error.operation, "C:\\Linked");
  EXPECT_FALSE(folder.isOpen());
}

TEST(PinnedFolder, CopyAndRemoveNeverGoThroughALinkAndMakeNeverKeepsTheModes) {
  TestMachine machine;
  const fs::path c = machine.root() / "drive_c";
  writeNativeFile(c / "new.rom", "VBIOS_VERSION=2");
  writeNativeFile(c / "system.dll", "system file");
  PinnedFolder folder;
  ASSERT_FALSE(folder.open("C:\\ProgramData", "Orvo\\VBIOS").failed());
  const fs::path working = c / "ProgramData" / "Orvo" / "VBIOS";
  fs::create_symlink(c / "system.dll", working / "x.rom");

  ASSERT_FALSE(folder.copyIn("C:\\new.rom", "x.rom").failed());
  EXPECT_EQ(readNativeFile(c / "system.dll"), "system file");
  EXPECT_FALSE(fs::is_symlink(working / "x.rom"));
  EXPECT_EQ(readNativeFile(working / "x.rom"), "VBIOS_VERSION=2");

  fs::remove(working / "x.rom");
  fs::create_symlink(c / "system.dll", working / "x.rom");
  EXPECT_FALSE(folder.remove("x.rom").failed());
  EXPECT_FALSE(fs::exists(fs::symlink_status(working / "x.rom")));
  EXPECT_EQ(readNativeFile(c / "system.dll"), "system file") << "deleted what the link led to";

  fs::permissions(working, fs::perms::all);
  ASSERT_FALSE(PinnedFolder().open("C:\\ProgramData", "Orvo\\VBIOS", PinnedFolder::Make::Never).failed());
  EXPECT_EQ(fs::status(working).permissions(), fs::perms::all) << "Make::Never leaves the modes alone";
}

TEST(PinnedFolder, AFolderIsCopiedInWholeOrRefusedWhenItHoldsALink) {
  using Why = platform::CopyRefusal::Why;
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> arrange;
    std::vector<std::pair<Why, std::string>> checked;  // what a check finds, paths below the source
  };
  const Case cases[] = {
      {"plain", [](const fs::path&) {}, {}},
      {"file link",
       [](const fs::path& p) { fs::create_symlink(p / "a.rom", p / "sub" / "l.rom"); },
       {{Why::Link, "\\sub\\l.rom"}}},
      {"folder link and pipe",
       [](const fs::path& p) {
         fs::create_directory_symlink(p / "sub", p / "z");
         ::mkfifo((p / "pipe").c_str(), 0600);
       },
       {{Why::NotPlain, "\\pipe"}, {Why::Link, "\\z"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestMachine machine;
    const fs::path source = machine.root() / "drive_c" / "packages";
    writeNativeFile(source / "a.rom", "VBIOS_VERSION=2");
    writeNativeFile(source / "tool.exe", "#!/bin/sh\n");
    fs::permissions(source / "tool.exe", fs::perms::owner_exec, fs::perm_options::add);
    writeNativeFile(source / "sub" / "b.rom", "second");
    c.arrange(source);
    PinnedFolder folder;
    ASSERT_FALSE(folder.open("C:\\ProgramData", "Orvo\\Package").failed());

    const PinnedFolder::CopyOutcome copied = folder.copyFolderIn("C:\\packages", {31, 6, 2});
    const PinnedFolder::CopyOutcome checked = PinnedFolder::checkFolder("C:\\packages", {31, 6, 2});
    EXPECT_FALSE(copied.error.failed()) << copied.error.operation << ": " << copied.error.message;
    std::vector<std::pair<Why, std::string>> found;
    for (const platform::CopyRefusal& refusal : checked.refused)
      found.emplace_back(refusal.why, refusal.path);
    for (auto& [why, at] : found) at = at.substr(std::string("C:\\packages").size());
    EXPECT_EQ(found, c.checked) << "a check goes on past a link to the next";
    const fs::path copy = machine.root() / "drive_c/ProgramData/Orvo/Package";
    if (c.checked.empty()) {
      EXPECT_TRUE(copied.refused.empty());
      EXPECT_NE(fs::status(copy / "tool.exe").permissions() & fs::perms::owner_exec, fs::perms::none)
          << "a copied program must stay runnable";
    } else {
      ASSERT_EQ(copied.refused.size(), 1u) << "a copy stops at the first";
      EXPECT_EQ(copied.refused[0].why, checked.refused[0].why);
      EXPECT_EQ(copied.refused[0].path, checked.refused[0].path);
    }
    // Links copied as links would lead out of the copy.
    for (const auto& entry : fs::recursive_directory_iterator(copy))
      EXPECT_FALSE(fs::is_symlink(entry.symlink_status())) << entry.path();

    // What clear() leaves is the empty folder; a link in it goes, not what it leads to.
    fs::create_directory_symlink(source / "sub", copy / "link");
    ASSERT_FALSE(folder.clear().failed());
    EXPECT_TRUE(fs::is_empty(copy));
    EXPECT_EQ(readNativeFile(source / "sub" / "b.rom"), "second");
  }
  TestMachine machine;
  PinnedFolder folder;
  ASSERT_FALSE(folder.open("C:\\ProgramData", "Orvo\\Package").failed());
  fs::create_directory_symlink(machine.root() / "drive_c", machine.root() / "drive_c" / "linked");
  const PinnedFolder::CopyOutcome linked = folder.copyFolderIn("C:\\linked", {30, 5, 2});
  ASSERT_EQ(linked.refused.size(), 1u);
  EXPECT_EQ(linked.refused[0].why, Why::Link);
  EXPECT_EQ(linked.refused[0].path, "C:\\linked");
}

// A folder of more names than the bound is not read to its end: the walk
// holds no more names than the bound lets in, whatever the folder holds.
TEST(PinnedFolder, AFloodOfNamesIsRefusedAtTheBound) {
  TestMachine machine;
  const fs::path flood = machine.root() / "drive_c" / "packages" / "many";
  fs::create_directories(flood);
  for (int i = 0; i < 3000; ++i) std::ofstream(flood / std::to_string(i)).close();
  const PinnedFolder::CopyOutcome checked = PinnedFolder::checkFolder("C:\\packages", {1 << 20, 1000, 16});
  ASSERT_EQ(checked.refused.size(), 1u);
  EXPECT_EQ(checked.refused[0].why, platform::CopyRefusal::Why::Entries);
  EXPECT_EQ(checked.refused[0].path, "C:\\packages\\many");
}

}  // namespace
