// The file services of platform/os on POSIX: careful saves, the lock
// between processes, bounded reads and safe file names.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/file_lock.h"
#include "platform/os/file_name.h"
#include "platform/os/file_read.h"
#include "platform/os/file_replace.h"
#include "platform/sim/sim_device_file.h"
#include "platform/sim/sim_device_lock.h"
#include "support/synthetic_device.h"
#include "support/test_util.h"
#include "support/tmpfs_posix.h"

namespace quorvel {
namespace {

using testing::read_file;
using testing::SmallTmpfs;
using testing::TempDir;
using testing::write_file;

constexpr Staging kStagings[] = {Staging::kUnnamedWhereSupported, Staging::kNamed};

std::set<std::string> names_in(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

mode_t mode_of(const std::filesystem::path& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

int exit_status(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Runs `body` in a child process standing for another run (it drops the
// descriptors it inherited, one of which may share this process's lock);
// its exit status is the body's result.
pid_t in_other_process(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child == 0) {
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    _exit(body());
  }
  return child;
}

// --- Saving -------------------------------------------------------------------

TEST(FileReplace, NewAndExistingFilesGetTheWholeContentAndNothingElseIsLeft) {
  for (Staging staging : kStagings) {
    TempDir dir;
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "new.xml", "first", staging)));
    EXPECT_EQ(read_file(dir / "new.xml"), "first");
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "new.xml", "second", staging)));
    EXPECT_EQ(read_file(dir / "new.xml"), "second");
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "new.xml", "", staging)));
    EXPECT_EQ(read_file(dir / "new.xml"), "");
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"new.xml"});
  }
}

TEST(FileReplace, LinksAreFollowedAndStayLinks) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  write_file(dir / "real" / "target.xml", "old");
  // An absolute link, a relative one, a link to a link, and a link to a
  // file that does not exist yet.
  std::filesystem::create_symlink(dir / "real" / "target.xml", dir / "absolute.xml");
  std::filesystem::create_symlink("real/target.xml", dir / "relative.xml");
  std::filesystem::create_symlink("relative.xml", dir / "chain.xml");
  std::filesystem::create_symlink("real/later.xml", dir / "dangling.xml");
  for (const char* link : {"absolute.xml", "relative.xml", "chain.xml"}) {
    SCOPED_TRACE(link);
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / link, link)));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / link));
    EXPECT_EQ(read_file(dir / "real" / "target.xml"), link);
  }
  ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "dangling.xml", "made")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.xml"));
  EXPECT_EQ(read_file(dir / "real" / "later.xml"), "made");
  EXPECT_EQ(names_in(dir / "real"), (std::set<std::string>{"later.xml", "target.xml"}));

  // A loop of links is refused with the system's reason.
  std::filesystem::create_symlink("loop2.xml", dir / "loop1.xml");
  std::filesystem::create_symlink("loop1.xml", dir / "loop2.xml");
  EXPECT_EQ(write_file_atomically(dir / "loop1.xml", "x").message(),
            std::generic_category().message(ELOOP));
}

TEST(FileReplace, ExistingFilesKeepTheirModeOwnerAndGroup) {
  for (Staging staging : kStagings) {
    TempDir dir;
    write_file(dir / "private.xml", "old");
    ASSERT_EQ(::chmod((dir / "private.xml").c_str(), 0600), 0);
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "private.xml", "new", staging)));
    EXPECT_EQ(mode_of(dir / "private.xml"), 0600u);

    write_file(dir / "shared.xml", "old");
    ASSERT_EQ(::chmod((dir / "shared.xml").c_str(), 0664), 0);
    // Only root may give a file to someone else.
    const bool give_away = ::geteuid() == 0;
    if (give_away) {
      ASSERT_EQ(::chown((dir / "shared.xml").c_str(), 1234, 5678), 0);
    }
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "shared.xml", "new", staging)));
    EXPECT_EQ(mode_of(dir / "shared.xml"), 0664u);
    if (give_away) {
      struct stat status {};
      ASSERT_EQ(::stat((dir / "shared.xml").c_str(), &status), 0);
      EXPECT_EQ(status.st_uid, 1234u);
      EXPECT_EQ(status.st_gid, 5678u);
    }

    // A new file gets the mode the process's mask leaves.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "fresh.xml", "new", staging)));
    EXPECT_EQ(mode_of(dir / "fresh.xml"), 0666u & ~mask);
  }
}

TEST(FileReplace, NamesAsLongAsTheSystemAllows) {
  // A file name of NAME_MAX bytes, at the end of a path of PATH_MAX - 1
  // bytes: the longest the system takes.
  TempDir dir;
  std::string folder = dir.path().string();
  while (PATH_MAX - 1 - folder.size() > NAME_MAX + 2 + 200) folder += "/" + std::string(200, 'f');
  // A last folder that leaves room for "/" and a name of NAME_MAX bytes.
  const std::size_t left = PATH_MAX - 1 - folder.size();
  folder += "/" + std::string(left - NAME_MAX - 2, 'f');
  std::filesystem::create_directories(folder);
  const std::string target = folder + "/" + std::string(NAME_MAX, 'n');
  ASSERT_EQ(target.size(), static_cast<std::size_t>(PATH_MAX - 1));
  for (Staging staging : kStagings) {
    ASSERT_TRUE(testing::succeeded(write_file_atomically(target, "long", staging)));
    EXPECT_EQ(read_file(target), "long");
    ASSERT_TRUE(testing::succeeded(write_file_atomically(target, "longer", staging)));
    EXPECT_EQ(read_file(target), "longer");
    EXPECT_EQ(names_in(folder).size(), 1u);
  }
}

TEST(FileReplace, FailuresGiveTheSystemsReasonAndLeaveNothingBehind) {
  for (Staging staging : kStagings) {
    TempDir dir;
    EXPECT_EQ(write_file_atomically(dir / "missing" / "x.xml", "x", staging).message(),
              std::generic_category().message(ENOENT));
    std::filesystem::create_directory(dir / "folder.xml");
    EXPECT_EQ(write_file_atomically(dir / "folder.xml", "x", staging).message(),
              std::generic_category().message(EISDIR));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.xml"));
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"folder.xml"});
  }
  // A device in the target's place is written into, not replaced.
  ASSERT_TRUE(testing::succeeded(write_file_atomically("/dev/null", "nothing")));
  struct stat status {};
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// Every save first removes what saves killed part-way left in its folder,
// and nothing else: only exact temporary names of processes that are gone,
// regular files that no process holds the lock of.
TEST(FileReplace, ASaveSweepsTheTemporaryFilesOfDeadProcessesOnly) {
  pid_t dead = ::fork();
  if (dead == 0) _exit(0);
  ASSERT_EQ(exit_status(dead), 0);
  pid_t alive = ::fork();
  if (alive == 0) {
    ::pause();
    _exit(0);
  }
  const std::string d = std::to_string(dead);
  const std::string a = std::to_string(alive);
  TempDir dir;
  const struct {
    std::string name;
    bool swept;
  } files[] = {
      {".saved.xml.quorvel-" + d + ".tmp", true},
      {".other name.quorvel-" + d + "-2.tmp", true},
      {".saved.xml.quorvel-" + a + ".tmp", false},              // its process lives
      {".held.xml.quorvel-" + d + ".tmp", false},               // locked (below)
      {"saved.xml.quorvel-" + d + ".tmp", false},               // no leading dot
      {".quorvel-" + d + ".tmp", false},                        // no name
      {".saved.xml.quorvel-" + d + ".tmpx", false},
      {".saved.xml.quorvel-0" + d + ".tmp", false},
      {".saved.xml.quorvel-" + d + "x.tmp", false},
      {".saved.xml.quorvel-" + d + "-.tmp", false},
      {".saved.xml.quorvel-.tmp", false},
      {"saved.xml", false},
  };
  for (const auto& file : files) write_file(dir / file.name, "left");
  std::filesystem::create_symlink("saved.xml", dir / (".link.quorvel-" + d + ".tmp"));
  std::filesystem::create_directory(dir / (".folder.quorvel-" + d + ".tmp"));
  int held = ::open((dir / (".held.xml.quorvel-" + d + ".tmp")).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  ASSERT_TRUE(testing::succeeded(write_file_atomically(dir / "saved.xml", "new")));
  ::close(held);
  ::kill(alive, SIGKILL);
  exit_status(alive);
  std::set<std::string> expected{".link.quorvel-" + d + ".tmp", ".folder.quorvel-" + d + ".tmp"};
  for (const auto& file : files) {
    if (!file.swept) expected.insert(file.name);
  }
  EXPECT_EQ(names_in(dir.path()), expected);
  EXPECT_EQ(read_file(dir / "saved.xml"), "new");
}

TEST(FileReplace, FullFileSystemKeepsTheOldFile) {
  SmallTmpfs tmpfs(64 * 1024);
  if (!tmpfs.mounted()) GTEST_SKIP() << tmpfs.why_not();
  write_file(tmpfs.path() / "saved.xml", "old");
  for (Staging staging : kStagings) {
    SCOPED_TRACE(static_cast<int>(staging));
    Result written =
        write_file_atomically(tmpfs.path() / "saved.xml", std::string(1 << 20, 'x'), staging);
    EXPECT_EQ(written.message(), std::generic_category().message(ENOSPC));
    EXPECT_EQ(read_file(tmpfs.path() / "saved.xml"), "old");
    EXPECT_EQ(names_in(tmpfs.path()), std::set<std::string>{"saved.xml"});
  }
  ASSERT_TRUE(tmpfs.make_read_only());
  EXPECT_EQ(write_file_atomically(tmpfs.path() / "saved.xml", "new").message(),
            std::generic_category().message(EROFS));
  EXPECT_EQ(read_file(tmpfs.path() / "saved.xml"), "old");
}

// --- Extended attributes and ACLs ------------------------------------------

// The value of the attribute `name` of `path`, or none when it has none.
std::optional<std::string> attribute_of(const std::filesystem::path& path,
                                        const std::string& name) {
  std::string value(65536, '\0');
  const ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
  if (size < 0) {
    EXPECT_EQ(errno, ENODATA) << name << " of " << path;
    return std::nullopt;
  }
  value.resize(static_cast<std::size_t>(size));
  return value;
}

std::set<std::string> attribute_names(const std::filesystem::path& path) {
  std::string names(65536, '\0');
  const ssize_t size = ::llistxattr(path.c_str(), names.data(), names.size());
  EXPECT_GE(size, 0) << path;
  std::set<std::string> result;
  for (std::size_t at = 0; at < static_cast<std::size_t>(std::max<ssize_t>(size, 0));) {
    at += result.insert(names.c_str() + at).first->size() + 1;
  }
  return result;
}

int set_attribute(const std::filesystem::path& path, const std::string& name,
                  const std::string& value) {
  return ::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

// An ACL in the form the kernel keeps it in system.posix_acl_access and
// system.posix_acl_default: a version, then (tag, permissions, id) entries
// in the order of their tags, little-endian.
struct AclEntry {
  std::uint16_t tag;
  std::uint16_t permissions;
  std::uint32_t id = 0xFFFFFFFF;
};
constexpr std::uint16_t kOwner = 0x01, kUser = 0x02, kGroup = 0x04, kMask = 0x10, kOther = 0x20;

std::string acl(std::initializer_list<AclEntry> entries) {
  std::string bytes;
  auto put = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(2, 4);
  for (const AclEntry& entry : entries) {
    put(entry.tag, 2);
    put(entry.permissions, 2);
    put(entry.id, 4);
  }
  return bytes;
}

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr std::uint32_t kShutOut = 4321;  // a user the ACLs below deny

// Owner rw, user 4321 nothing, group and others r: 0644, but for user 4321.
const std::string kDenyingAcl = acl({{kOwner, 6}, {kUser, 0, kShutOut}, {kGroup, 4}, {kMask, 4},
                                     {kOther, 4}});

// Why the test folder cannot hold `name` attributes, or "" when it can.
std::string attributes_unsupported(const TempDir& dir, const std::string& name,
                                   const std::string& value) {
  const std::filesystem::path probe = dir / "probe";
  write_file(probe, "");
  const int error = set_attribute(probe, name, value);
  std::filesystem::remove(probe);
  return error == 0 ? "" : name + " attributes cannot be set here: " + std::strerror(error);
}

// Every way the program replaces a file: a document saved with either
// staging, and a simulated device's file rewritten.
const struct {
  const char* how;
  std::function<Result(const std::filesystem::path&)> save;
} kReplacements[] = {
    {"unnamed", [](const auto& path) { return write_file_atomically(path, "new"); }},
    {"named", [](const auto& path) { return write_file_atomically(path, "new", Staging::kNamed); }},
    {"device file",
     [](const auto& path) { return save_sim_device_file(make_sim_device(4, 1, 1), path); }},
};

TEST(FileReplace, ExistingFilesKeepTheirExtendedAttributesAndAcl) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> attributes;  // given to the old file
    std::string folder_default_acl;  // given to the folder before the old file is made
    mode_t mode;
  } cases[] = {
      {"a user attribute", {{"user.quorvel.origin", std::string("mixer\0room", 10)}}, "", 0640},
      {"an ACL that shuts a user out", {{kAccessAcl, kDenyingAcl}}, "", 0644},
      // The folder would give the new file an ACL that lets user 4321 read;
      // the old file had its ACL taken away.
      {"no ACL in a folder with a default ACL",
       {},
       acl({{kOwner, 7}, {kUser, 4, kShutOut}, {kGroup, 5}, {kMask, 5}, {kOther, 0}}),
       0640},
      {"a security attribute (privileged)", {{"security.quorvel", "label"}}, "", 0600},
  };
  TempDir probe_dir;
  const std::string unsupported = attributes_unsupported(probe_dir, "user.quorvel.probe", "1");
  if (!unsupported.empty()) GTEST_SKIP() << unsupported;

  for (const auto& replacement : kReplacements) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(replacement.how) + ": " + c.what);
      TempDir dir;
      // An attribute this process or file system cannot set skips the case.
      std::string why_not;
      for (const auto& [name, value] : c.attributes) {
        if (why_not.empty()) why_not = attributes_unsupported(dir, name, value);
      }
      if (!c.folder_default_acl.empty() &&
          set_attribute(dir.path(), "system.posix_acl_default", c.folder_default_acl) != 0) {
        why_not = std::string("no default ACL: ") + std::strerror(errno);
      }
      if (!why_not.empty()) {
        std::cout << "[ SKIPPED  ] " << why_not << "\n";
        continue;
      }
      const std::filesystem::path file = dir / "saved.xml";
      write_file(file, "old");
      ::lremovexattr(file.c_str(), kAccessAcl);  // what the folder gave it
      ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
      for (const auto& [name, value] : c.attributes) {
        ASSERT_EQ(set_attribute(file, name, value), 0) << name;
      }
      const std::set<std::string> names = attribute_names(file);
      std::vector<std::optional<std::string>> values;
      for (const std::string& name : names) values.push_back(attribute_of(file, name));
      const mode_t mode = mode_of(file);

      ASSERT_TRUE(testing::succeeded(replacement.save(file)));
      EXPECT_NE(read_file(file), "old");
      EXPECT_EQ(attribute_names(file), names);
      std::size_t i = 0;
      for (const std::string& name : names) {
        EXPECT_EQ(attribute_of(file, name), values[i++]) << name;
      }
      EXPECT_EQ(mode_of(file), mode);
      EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"saved.xml"});
    }
  }
}

// A save by a process that may not read or set every attribute of the old
// file (security.* and trusted.*, set by root; user.* of a file it may only
// write) still saves, leaving those behind; the ACL is kept, whether the
// old file can be opened (its attributes read through a descriptor) or not
// (read by name).
TEST(FileReplace, AttributesOutOfAnUnprivilegedSavesReachAreLeftBehind) {
  if (::geteuid() != 0) GTEST_SKIP() << "setting up another user's file needs root";
  TempDir dir;
  for (const char* name : {"user.quorvel.probe", "security.quorvel", "trusted.quorvel"}) {
    const std::string why_not = attributes_unsupported(dir, name, "1");
    if (!why_not.empty()) GTEST_SKIP() << why_not;
  }
  if (attributes_unsupported(dir, kAccessAcl, kDenyingAcl) != "") GTEST_SKIP() << "no ACLs here";
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  constexpr uid_t kNobody = 65534;
  const struct {
    const char* what;
    std::uint16_t others;  // what the ACL lets the saving process do
    bool user_attribute_kept;
  } cases[] = {
      {"readable", 6, true},
      {"write-only", 2, false},
  };
  for (const auto& replacement : kReplacements) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(replacement.how) + ": " + c.what);
      const std::filesystem::path file = dir / "saved.xml";
      write_file(file, "old");
      ASSERT_EQ(set_attribute(file, "user.quorvel.origin", "room"), 0);
      ASSERT_EQ(set_attribute(file, "security.quorvel", "label"), 0);
      ASSERT_EQ(set_attribute(file, "trusted.quorvel", "root's"), 0);
      ASSERT_EQ(set_attribute(file, kAccessAcl,
                              acl({{kOwner, 6}, {kUser, 0, kShutOut}, {kGroup, 6}, {kMask, 6},
                                   {kOther, c.others}})),
                0);
      const std::optional<std::string> acl_before = attribute_of(file, kAccessAcl);

      pid_t child = in_other_process([&] {
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 2;
        return replacement.save(file) ? 0 : 1;
      });
      ASSERT_EQ(exit_status(child), 0);
      EXPECT_NE(read_file(file), "old");
      EXPECT_EQ(attribute_of(file, kAccessAcl), acl_before);
      EXPECT_EQ(attribute_of(file, "user.quorvel.origin"),
                c.user_attribute_kept ? std::optional<std::string>("room") : std::nullopt);
      EXPECT_EQ(attribute_of(file, "security.quorvel"), std::nullopt);
      EXPECT_EQ(attribute_of(file, "trusted.quorvel"), std::nullopt);
      std::filesystem::remove(file);
    }
  }
}

// --- The lock -----------------------------------------------------------------

FileLock::Wait waiting(std::chrono::milliseconds timeout, bool* told = nullptr) {
  FileLock::Wait wait;
  wait.timeout = timeout;
  if (told != nullptr) wait.on_held = [told] { *told = true; };
  return wait;
}

TEST(FileLockTest, ALinkAndItsTargetShareOneLockAndAWaitEndsAtItsTimeout) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  write_file(dir / "real" / "device.xml", "device");
  std::filesystem::create_symlink("real/device.xml", dir / "link.xml");
  FileLock lock;
  ASSERT_TRUE(testing::succeeded(lock.acquire(dir / "link.xml", waiting(std::chrono::seconds(0)))));
  for (const auto& [path, timeout] :
       {std::pair{dir / "real" / "device.xml", std::chrono::milliseconds(0)},
        std::pair{dir / "link.xml", std::chrono::milliseconds(400)}}) {
    SCOPED_TRACE(path.string());
    const auto started = std::chrono::steady_clock::now();
    pid_t child = in_other_process([&] {
      FileLock theirs;
      return theirs.acquire(path, waiting(timeout)).kind() == kLockErrorTimedOut ? 0 : 1;
    });
    EXPECT_EQ(exit_status(child), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - started, timeout);
  }
  EXPECT_EQ(names_in(dir / "real"), std::set<std::string>{"device.xml"});
}

TEST(FileLockTest, WhatCannotBeLockedIsRefusedAtOnceAndNothingIsMade) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.xml").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.xml");
  std::filesystem::create_symlink("nowhere.xml", dir / "dangling.xml");
  const struct {
    std::filesystem::path path;
    std::int32_t code;
    std::string message;
  } cases[] = {
      {dir / "none.xml", kLockErrorUnopened, std::generic_category().message(ENOENT)},
      {dir / "none" / "x.xml", kLockErrorUnopened, std::generic_category().message(ENOENT)},
      {dir / "dangling.xml", kLockErrorUnopened, std::generic_category().message(ENOENT)},
      {dir / "fifo.xml", kLockErrorNotRegular, "not a regular file"},  // no writer: no wait
      {dir / "folder.xml", kLockErrorNotRegular, "not a regular file"},
      {"/dev/zero", kLockErrorNotRegular, "not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    FileLock lock;
    Result got = lock.acquire(c.path, waiting(std::chrono::seconds(30)));
    EXPECT_FALSE(got);
    EXPECT_EQ(got.kind(), c.code);
    EXPECT_EQ(got.message(), c.message);
    EXPECT_FALSE(lock.held());
  }
  EXPECT_EQ(names_in(dir.path()),
            (std::set<std::string>{"dangling.xml", "fifo.xml", "folder.xml"}));
}

TEST(FileLockTest, TheWaitComesFromTheEnvironmentsWholeSeconds) {
  const struct {
    std::optional<std::string> value;
    long seconds;
  } cases[] = {
      {std::nullopt, 30}, {"", 30},      {"0", 0},     {"5", 5},         {"86400", 86400},
      {"86401", 86400},   {"99999999999999999999", 86400},               {"-1", 30},
      {"1.5", 30},        {"abc", 30},   {" 5", 30},   {"5s", 30},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lock_timeout_seconds(c.value), c.seconds) << c.value.value_or("(unset)");
  }
}

// --- Bounded reads --------------------------------------------------------------

TEST(FileRead, WhatIsNotARegularFileIsReadUnderTheDocumentBound) {
  // A device that never ends.
  const Expected<std::string> zero = read_file_whole("/dev/zero");
  EXPECT_EQ(zero.message(), "the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");

  // A FIFO: a small content is read whole, one past the bound is refused.
  TempDir dir;
  const std::filesystem::path fifo = dir / "fifo.xml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (std::size_t size : {std::size_t{5}, kMaxDocumentBytes + 1}) {
    std::thread writer([&] {
      int fd = ::open(fifo.c_str(), O_WRONLY);
      std::string chunk(1 << 20, 'x');
      for (std::size_t sent = 0; sent < size && fd >= 0;) {
        ssize_t n = ::write(fd, chunk.data(), std::min(chunk.size(), size - sent));
        if (n <= 0) break;  // the reader stopped
        sent += static_cast<std::size_t>(n);
      }
      if (fd >= 0) ::close(fd);
    });
    const Expected<std::string> read = read_file_whole(fifo);
    // Unblock a writer the reader left.
    int drain = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    writer.join();
    if (drain >= 0) ::close(drain);
    if (size == 5) {
      ASSERT_TRUE(testing::succeeded(read));
      EXPECT_EQ(*read, "xxxxx");
    } else {
      EXPECT_EQ(read.message(),
                "the file is larger than " + std::to_string(kMaxDocumentBytes) + " bytes");
    }
  }
}

TEST(FileRead, RegularFilesAreReadWhateverTheirSize) {
  TempDir dir;
  const std::filesystem::path file = dir / "big.xml";
  write_file(file, "<a>");
  // A sparse file past the bound of what has no size: read whole.
  std::filesystem::resize_file(file, kMaxDocumentBytes + 1);
  const Expected<std::string> sparse = read_file_whole(file);
  ASSERT_TRUE(testing::succeeded(sparse));
  const std::string& bytes = *sparse;
  EXPECT_EQ(bytes.size(), kMaxDocumentBytes + 1);
  EXPECT_EQ(bytes.compare(0, 4, std::string("<a>\0", 4)), 0);
  EXPECT_EQ(bytes.find_first_not_of('\0', 3), std::string::npos);
  EXPECT_EQ(file_read_bound(false), kMaxDocumentBytes);
  EXPECT_GT(file_read_bound(true), std::uint64_t{1} << 40);
  // An empty file is read as empty.
  write_file(file, "");
  const Expected<std::string> empty = read_file_whole(file);
  ASSERT_TRUE(testing::succeeded(empty));
  EXPECT_TRUE(empty->empty());
  EXPECT_EQ(read_file_whole(dir / "none.xml").message(),
            std::generic_category().message(ENOENT));
  EXPECT_EQ(read_file_whole(dir.path()).message(),
            std::generic_category().message(EISDIR));
}

// --- Safe file names ------------------------------------------------------------

TEST(SafeFileName, SeparatorsBecomeUnderscoresAndOtherNamesStay) {
  EXPECT_EQ(default_file_name("/some/where/name"), "_some_where_name.xml");
  EXPECT_EQ(default_file_name("../x"), ".._x.xml");
  EXPECT_EQ(default_file_name("In/Out Card"), "In_Out Card.xml");
  EXPECT_EQ(default_file_name(""), "mixer.xml");
  EXPECT_EQ(safe_file_name(".."), "__");
  EXPECT_EQ(safe_file_name("."), "_");
  // Names that were files in the current folder before stay as they were.
  for (const char* name : {"Demo PCI Sound Card", "HDA Intel PCH", "Carte son int\xC3\xA9gr\xC3\xA9""e",
                           "a:b*c?\"<>|\\", " lead and trail. ", "..."}) {
    EXPECT_EQ(default_file_name(name), std::string(name) + ".xml");
  }
}

}  // namespace
}  // namespace quorvel
