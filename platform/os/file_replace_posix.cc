// POSIX: the new content goes to a file in the target's folder, opened
// relative to the folder (so the full path's length never matters), flushed
// with fsync, and put in the target's place with renameat; the folder is
// flushed after. On Linux the file has no name until it is complete
// (O_TMPFILE, then linkat), so a process killed while writing it leaves
// nothing behind. Replacing an existing file needs a name for a moment (no
// system call puts an unnamed file over a name): `.NAME.quorvel-PID.tmp`,
// which says whose it is, so that a later save into the folder can remove
// it once that process is gone (a process killed between the link and the
// rename leaves it).
#include <fcntl.h>
#include <dirent.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/os/file_replace.h"

namespace quorvel {
namespace {

Result system_failure(int code) {
  return Result::failure(std::generic_category().message(code));
}

// Closes a descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports what close says (a late write error on some
  // file systems).
  int close_checked() {
    int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Follows symbolic links at the end of `path` until it names something that
// is not a link (or nothing at all). 0, or the error.
int follow_links(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(status.st_mode)) return 0;
    std::string link(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 255) + 1, '\0');
    ssize_t length;
    while ((length = ::readlink(path.c_str(), link.data(), link.size())) ==
           static_cast<ssize_t>(link.size())) {
      link.resize(link.size() * 2);
    }
    if (length < 0) return errno;
    link.resize(static_cast<std::size_t>(length));
    if (link.empty()) return ENOENT;
    if (link[0] == '/') {
      path = link;
    } else {
      std::size_t slash = path.rfind('/');
      path = slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
    }
  }
  return ELOOP;
}

// The temporary name of the new content of `target`, in the same folder:
// ".NAME.quorvel-PID.tmp", with "-N" after the PID for the N-th name a
// process wants at once (another thread's save of the same target). NAME is
// cut short, at a character's start, so that the whole fits in a name.
constexpr std::string_view kTemporaryTag = ".quorvel-";
constexpr std::string_view kTemporaryEnd = ".tmp";

std::string temporary_name(const std::string& target, unsigned attempt) {
  std::size_t keep = std::min<std::size_t>(target.size(), 200);
  while (keep > 0 && keep < target.size() &&
         (static_cast<unsigned char>(target[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  // Built piece by piece: GCC 12 at -O3 warns (falsely) about a literal
  // added to a string in one expression.
  std::string name(1, '.');
  name.append(target, 0, keep);
  name += kTemporaryTag;
  name += std::to_string(::getpid());
  if (attempt > 0) {
    name += '-';
    name += std::to_string(attempt);
  }
  name += kTemporaryEnd;
  return name;
}

// The process a temporary name says it belongs to, or 0 when `name` is not
// one: a dot, at least one byte of name, the tag, the PID (and perhaps
// "-N"), ".tmp", exactly.
pid_t temporary_owner(std::string_view name) {
  if (name.size() < 2 || name[0] != '.' || !name.ends_with(kTemporaryEnd)) return 0;
  name.remove_suffix(kTemporaryEnd.size());
  const std::size_t tag = name.rfind(kTemporaryTag);
  if (tag == std::string_view::npos || tag < 2) return 0;
  std::string_view number = name.substr(tag + kTemporaryTag.size());
  const std::size_t dash = number.find('-');
  std::string_view extra = dash == std::string_view::npos ? "" : number.substr(dash + 1);
  if (dash != std::string_view::npos) {
    number = number.substr(0, dash);
    if (extra.empty() || extra.size() > 9 ||
        extra.find_first_not_of("0123456789") != std::string_view::npos) {
      return 0;
    }
  }
  if (number.empty() || number.size() > 9 || number[0] == '0' ||
      number.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  return static_cast<pid_t>(std::stol(std::string(number)));
}

// Removes the temporary files that saves of processes now gone left in the
// folder. A file goes only when its name is exactly a temporary name, its
// process no longer exists (kill says ESRCH; a PID another process now has
// keeps the file until that one ends too), it is a regular file, and no
// process holds its lock: every save holds the lock of its temporary file
// for as long as it has one, which keeps a save of another machine or PID
// namespace sharing the folder (whose PID means nothing here) safe.
// Anything that goes wrong leaves the file where it is.
void sweep_temporary_files(int folder) {
  const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* entries = ::fdopendir(listing);
  if (entries == nullptr) {
    ::close(listing);
    return;
  }
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(entries)) {
    const pid_t owner = temporary_owner(entry->d_name);
    if (owner == 0 || owner == self) continue;
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    Descriptor file(::openat(folder, entry->d_name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status;
    if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) continue;
    ::unlinkat(folder, entry->d_name, 0);
  }
  ::closedir(entries);
}

int write_all(int fd, std::string_view bytes) {
  const char* at = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t written = ::write(fd, at, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return ENOSPC;
    at += written;
    left -= static_cast<std::size_t>(written);
  }
  return 0;
}

// A target that cannot be replaced (a device, a FIFO) is written into. It
// is opened without blocking, so that a FIFO nobody reads from is reported
// (ENXIO) instead of waited on for ever; then it is written as before, in
// blocking mode, however slowly its reader reads.
Result write_in_place(const std::filesystem::path& target, std::string_view bytes, bool fifo) {
  Descriptor file(::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) {
    if (errno == ENXIO && fifo) return Result::failure("nothing is reading from the FIFO");
    return system_failure(errno);
  }
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return system_failure(errno);
  }
  if (int error = write_all(file.get(), bytes)) return system_failure(error);
  if (int error = file.close_checked()) return system_failure(error);
  return Result();
}

// The new file: where it stands and how it gets its name.
struct Staged {
  Descriptor file;
  // A second descriptor of the same open file, holding its lock until the
  // file has taken the target's place, after `file` has been closed (which
  // is checked: a late write error shows there).
  Descriptor lock;
  std::string name;      // the temporary name; empty while the file has none
  bool unnamed = false;  // made with O_TMPFILE
};

// Takes the lock of the new file (see sweep_temporary_files) before it has
// a temporary name, or at once after. Only a guard against sweeps by
// processes whose PIDs mean nothing here: a file system without locks
// saves all the same.
void lock_staged(Staged& staged) {
  staged.lock.reset(::fcntl(staged.file.get(), F_DUPFD_CLOEXEC, 0));
  if (staged.lock.get() < 0) return;
  while (::flock(staged.lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
  }
}

int stage_unnamed(int folder, Staged& staged) {
#ifdef O_TMPFILE
  staged.file.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (staged.file.get() >= 0) {
    staged.unnamed = true;
    lock_staged(staged);
    return 0;
  }
  return errno;
#else
  (void)folder;
  (void)staged;
  return EOPNOTSUPP;
#endif
}

// `private_mode`: the file is made readable by its owner only, so that the
// content meant for a target that others may not read never shows under the
// temporary name with wider rights (the target's own mode follows before
// any byte is written).
int stage_named(int folder, const std::string& target, Staged& staged, bool private_mode) {
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string name = temporary_name(target, attempt);
    int fd = ::openat(folder, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC,
                      private_mode ? 0600 : 0666);
    if (fd >= 0) {
      staged.file.reset(fd);
      staged.name = name;
      lock_staged(staged);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

// Gives an unnamed file the name `name` in the folder. 0, or the error.
int link_unnamed(int fd, int folder, const std::string& name) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  int error = errno;
#ifdef AT_EMPTY_PATH
  // Without /proc: the same by the descriptor itself (needs privilege).
  if (error == ENOENT && ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
#endif
  return error;
}

// --- Extended attributes ------------------------------------------------------

// The name under which the kernel keeps a file's POSIX access ACL.
constexpr std::string_view kAccessAcl = "system.posix_acl_access";

// Whether the attribute `name` says who may use the file: the system.*
// names, where the kernel keeps POSIX ACLs (system.posix_acl_access,
// system.posix_acl_default) and network file systems theirs
// (system.nfs4_acl, system.cifs_acl).
bool is_acl(std::string_view name) { return name.starts_with("system."); }

// The file system keeps no such attributes.
bool unsupported(int error) {
#if ENOTSUP != EOPNOTSUPP
  if (error == EOPNOTSUPP) return true;
#endif
  return error == ENOTSUP;
}

// The system could not give the attribute, or could not take it: nothing
// to carry (no such attribute, not supported here), or a privilege the
// process lacks (security.* without CAP_SYS_ADMIN, user.* of a file it may
// not read).
bool out_of_reach(int error) {
  return error == ENODATA || unsupported(error) || error == EPERM || error == EACCES;
}

// Reads the extended attributes of the file being replaced: through a
// descriptor when the file can be opened for reading, else by name through
// the folder's descriptor (/proc/self/fd/N/NAME, whatever the path's
// length), else by its full path. None of these needs the right to read the
// file's content.
class AttributeSource {
 public:
  AttributeSource(int folder, const std::string& name, const std::string& full_path) {
    fd_.reset(::openat(folder, name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd_.get() >= 0) return;
    path_ = "/proc/self/fd/" + std::to_string(folder) + "/" + name;
    struct stat status;
    if (::lstat(path_.c_str(), &status) != 0) path_ = full_path;
  }

  // The names of the file's attributes, each ending in a NUL. 0, or the
  // error (ENOTSUP: the file system keeps none).
  int list(std::vector<char>& names) const {
    return fill([&](char* buffer, std::size_t size) {
      return fd_.get() >= 0 ? ::flistxattr(fd_.get(), buffer, size)
                            : ::llistxattr(path_.c_str(), buffer, size);
    }, names);
  }

  // The value of the attribute `name`. 0, or the error.
  int get(const char* name, std::vector<char>& value) const {
    return fill([&](char* buffer, std::size_t size) {
      return fd_.get() >= 0 ? ::fgetxattr(fd_.get(), name, buffer, size)
                            : ::lgetxattr(path_.c_str(), name, buffer, size);
    }, value);
  }

 private:
  // Asks for the size, then for the bytes, again while they grow between
  // the two calls (ERANGE).
  template <typename Call>
  static int fill(const Call& call, std::vector<char>& bytes) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      const ssize_t size = call(nullptr, 0);
      if (size < 0) return errno;
      bytes.resize(static_cast<std::size_t>(size));
      if (size == 0) return 0;
      const ssize_t got = call(bytes.data(), bytes.size());
      if (got >= 0) {
        bytes.resize(static_cast<std::size_t>(got));
        return 0;
      }
      if (errno != ERANGE) return errno;
    }
    return ERANGE;
  }

  Descriptor fd_;
  std::string path_;
};

// Gives the new file `fd` every extended attribute of the file it replaces,
// so that its POSIX ACL above all is the old one's: a user the ACL denied
// must not be able to read the new content. An attribute out of reach (see
// out_of_reach) is left behind, except an ACL: an ACL that cannot be read
// or set fails the save. An access ACL the new file took from the folder's
// default ACL, where the old file had none, is removed, since it could give
// users the old file shut out what the old mode never gave them.
// 0, or the error.
int copy_attributes(const AttributeSource& source, int fd) {
  std::vector<char> names;
  if (int error = source.list(names)) return unsupported(error) ? 0 : error;
  if (!names.empty() && names.back() != '\0') names.push_back('\0');
  bool had_access_acl = false;
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size();) {
    const char* name = names.data() + at;
    const std::size_t length = std::char_traits<char>::length(name);
    at += length + 1;
    if (length == 0) continue;
    const bool acl = is_acl(name);
    had_access_acl = had_access_acl || name == kAccessAcl;
    if (int error = source.get(name, value)) {
      if (error == ENODATA || (!acl && out_of_reach(error))) continue;
      return error;
    }
    if (::fsetxattr(fd, name, value.data(), value.size(), 0) != 0) {
      if (!acl && out_of_reach(errno)) continue;
      return errno;
    }
  }
  if (!had_access_acl && ::fremovexattr(fd, kAccessAcl.data()) != 0 && errno != ENODATA &&
      !unsupported(errno)) {
    return errno;
  }
  return 0;
}

}  // namespace

Result write_file_atomically(const std::filesystem::path& target, std::string_view bytes,
                             Staging staging) {
  std::string path = target.string();
  if (path.empty()) return system_failure(ENOENT);

  // A device or FIFO in the target's place (also behind a link such as
  // /dev/stdout, whose chain ends in names that are not paths).
  struct stat status;
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
      !S_ISDIR(status.st_mode)) {
    return write_in_place(target, bytes, S_ISFIFO(status.st_mode));
  }
  if (int error = follow_links(path)) return system_failure(error);

  std::size_t slash = path.rfind('/');
  std::string folder_path;
  if (slash == std::string::npos) {
    folder_path = ".";
  } else if (slash == 0) {
    folder_path = "/";
  } else {
    folder_path = path.substr(0, slash);
  }
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return system_failure(EISDIR);

  // The folder, for everything that follows; a folder that may be searched
  // but not read can still be written to, only not flushed.
  Descriptor folder(::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  bool folder_flushable = true;
  if (folder.get() < 0 && errno == EACCES) {
    folder.reset(::open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    folder_flushable = false;
  }
  if (folder.get() < 0) return system_failure(errno);
  // What saves killed part-way left here goes first.
  if (folder_flushable) sweep_temporary_files(folder.get());

  bool exists = false;
  if (::fstatat(folder.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(status.st_mode)) return system_failure(EISDIR);
    exists = true;
  } else if (errno != ENOENT) {
    return system_failure(errno);
  }

  // The folder is flushed once the new entry is in place, to make it last.
  // File systems that cannot flush a folder say so with EINVAL.
  auto flush_folder = [&]() {
    if (folder_flushable && ::fsync(folder.get()) != 0 && errno != EINVAL && errno != EROFS) {
      return system_failure(errno);
    }
    return Result();
  };

  // The content, with the existing target's owner, group, extended
  // attributes and mode given first, then flushed. The owner and group come
  // first: changing them clears set-user-id bits and file capabilities,
  // which the mode and the attributes put back; only a privileged process
  // may give a file away, so a refusal there is not a failure. The
  // attributes (the ACL among them) come before the mode, so that a named
  // file never has the old mode without the old ACL that narrows it.
  std::optional<AttributeSource> attributes;
  auto fill = [&](Staged& staged) {
    if (exists) {
      if (::fchown(staged.file.get(), status.st_uid, status.st_gid) != 0 && errno != EPERM) {
        return errno;
      }
      if (!attributes) attributes.emplace(folder.get(), name, path);
      if (int error = copy_attributes(*attributes, staged.file.get())) return error;
      if (::fchmod(staged.file.get(), status.st_mode & 07777) != 0) return errno;
    }
    if (int error = write_all(staged.file.get(), bytes)) return error;
    return ::fsync(staged.file.get()) != 0 ? errno : 0;
  };

  Staged staged;
  auto discard = [&](int code) {
    staged.file.reset();
    if (!staged.name.empty()) ::unlinkat(folder.get(), staged.name.c_str(), 0);
    staged.name.clear();
    staged.lock.reset();
    return system_failure(code);
  };

  int error = EOPNOTSUPP;
  if (staging == Staging::kUnnamedWhereSupported) error = stage_unnamed(folder.get(), staged);
  if (error == 0) {
    if ((error = fill(staged)) != 0) return discard(error);
    // A new target is linked in under its own name at once; an existing
    // one is replaced through a temporary name (a link cannot replace).
    if (!exists) {
      error = link_unnamed(staged.file.get(), folder.get(), name);
      if (error == 0) {
        staged.file.reset();
        return flush_folder();
      }
    }
    if (exists || error == EEXIST) {
      for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = temporary_name(name, attempt);
        error = link_unnamed(staged.file.get(), folder.get(), temporary);
        if (error == 0) staged.name = temporary;
        if (error != EEXIST) break;
      }
    }
    // An unnamed file that cannot be given a name (no /proc, and linking by
    // descriptor not allowed) is given up; the content goes to a named file.
    if (error != 0) {
      staged.file.reset();
      staged.lock.reset();
    }
  }
  if (staged.name.empty()) {
    if ((error = stage_named(folder.get(), name, staged, exists)) != 0) {
      return discard(error);
    }
    if ((error = fill(staged)) != 0) return discard(error);
  }
  if ((error = staged.file.close_checked()) != 0) return discard(error);
  if (::renameat(folder.get(), staged.name.c_str(), folder.get(), name.c_str()) != 0) {
    return discard(errno);
  }
  return flush_folder();
}

}  // namespace quorvel
