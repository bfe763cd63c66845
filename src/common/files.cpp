#include "common/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace labeler {

std::string NotARegularFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) return "";
  if (S_ISDIR(status.st_mode)) return "is a folder";
  if (S_ISFIFO(status.st_mode)) return "is a FIFO";
  if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return "is a device";
  if (S_ISSOCK(status.st_mode)) return "is a socket";
  return "is not a regular file";
}

namespace {

FileStamp StampFrom(const struct stat& status) {
  return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
          static_cast<int64_t>(status.st_size),
          static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

}  // namespace

FileStamp StampOf(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? StampFrom(status) : FileStamp{};
}

void SkipByteOrderMark(std::FILE* file) {
  static constexpr unsigned char kMark[3] = {0xef, 0xbb, 0xbf};
  int read[3];
  int count = 0;
  while (count < 3) {
    read[count] = std::getc(file);
    if (read[count] != kMark[count]) break;
    ++count;
  }
  if (count == 3) return;
  // Not a mark: give back what was read. ungetc promises one character; the file is rewound when more is due.
  if (count == 0) {
    if (read[0] != EOF) std::ungetc(read[0], file);
  } else {
    std::rewind(file);
  }
}

namespace {

// Writes `bytes` to a new hidden file beside `path` (".NAME.XXXXXX"), flushed to the disk; returns its name, or
// "" with `reason` set.
std::string WriteBeside(const std::string& path, const std::vector<unsigned char>& bytes, std::string& reason) {
  std::filesystem::path target(path);
  std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(temporary.data());
  if (fd < 0) {
    reason = std::strerror(errno);
    return "";
  }
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = n < 0 ? std::strerror(errno) : "short write";
      close(fd);
      unlink(temporary.c_str());
      return "";
    }
    written += static_cast<size_t>(n);
  }
  fchmod(fd, 0644);
  if (fsync(fd) != 0 || close(fd) != 0) {
    reason = std::strerror(errno);
    unlink(temporary.c_str());
    return "";
  }
  return temporary;
}

void SyncFolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  int dirFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
}

// The stamp of the link itself, not of what it points to.
FileStamp LinkStampOf(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? StampFrom(status) : FileStamp{};
}

// Labellers publishing into one folder take turns: each holds an exclusive lock on the folder from its check to
// its replacement, so that no two interleave. A program that takes no turn is met by the exchange below. A
// folder that can't be locked (on some network file systems) is published into without a turn.
class FolderTurn {
 public:
  explicit FolderTurn(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    fd_ = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderTurn() {
    if (fd_ >= 0) close(fd_);
  }
  FolderTurn(const FolderTurn&) = delete;
  FolderTurn& operator=(const FolderTurn&) = delete;

 private:
  int fd_ = -1;
};

Publication Failed(const std::string& temporary, int error, std::string& reason) {
  unlink(temporary.c_str());
  reason = std::strerror(error);
  return Publication::kFailed;
}

// Nothing at `path`: a hard link publishes the file only if no other has appeared there. File systems without
// hard links (FAT, say) get a rename that refuses to replace, or failing that a check just before the rename.
Publication PublishNew(const std::string& temporary, const std::string& path, std::string& reason) {
  if (link(temporary.c_str(), path.c_str()) == 0) {
    unlink(temporary.c_str());
    return Publication::kPublished;
  }
  int error = errno;
  if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK) {
    if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
      return Publication::kPublished;
    }
    error = errno;
    if (error == EINVAL || error == ENOSYS) {
      if (StampOf(path).exists) {
        error = EEXIST;
      } else if (std::rename(temporary.c_str(), path.c_str()) == 0) {
        return Publication::kPublished;
      } else {
        error = errno;
      }
    }
  }
  if (error != EEXIST) return Failed(temporary, error, reason);
  unlink(temporary.c_str());
  return Publication::kChangedMeanwhile;
}

// The new version is swapped in and the one it replaced examined, in this process's hands alone (after links,
// as the stamp loaded was taken): if it is not the version expected, it is swapped back. A version found in the
// way of the swap back, written meanwhile by a program that takes no turn, is kept as "PATH.kept-PID".
Publication PublishOver(const std::string& temporary, const std::string& path, const FileStamp& expected,
                        const FileStamp& ours, std::string& reason) {
  if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
    const int error = errno;
    if (error == ENOENT) return PublishNew(temporary, path, reason);  // it was removed meanwhile
    if (error != EINVAL && error != ENOSYS) return Failed(temporary, error, reason);
    // No exchange on this file system (network file systems): the check and the rename follow each other.
    if (StampOf(path) != expected) {
      unlink(temporary.c_str());
      return Publication::kChangedMeanwhile;
    }
    if (std::rename(temporary.c_str(), path.c_str()) == 0) return Publication::kPublished;
    return Failed(temporary, errno, reason);
  }
  if (StampOf(temporary) == expected) {
    unlink(temporary.c_str());
    return Publication::kPublished;
  }
  const std::string kept = path + ".kept-" + std::to_string(getpid());
  if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
    const int error = errno;
    std::rename(temporary.c_str(), kept.c_str());
    reason = std::string("the version on disk could not be put back (") + std::strerror(error) + "); it is kept as " +
             kept;
    return Publication::kFailed;
  }
  if (LinkStampOf(temporary) == ours) {
    unlink(temporary.c_str());
  } else {
    std::rename(temporary.c_str(), kept.c_str());
  }
  return Publication::kChangedMeanwhile;
}

}  // namespace

std::string WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::string reason;
  const std::string temporary = WriteBeside(path, bytes, reason);
  if (temporary.empty()) return reason;
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    reason = std::strerror(errno);
    unlink(temporary.c_str());
    return reason;
  }
  SyncFolderOf(path);
  return "";
}

Publication PublishIfUnchanged(const std::string& path, const std::vector<unsigned char>& bytes,
                               const FileStamp& expected, std::string& reason, FileStamp* publishedStamp) {
  const std::string temporary = WriteBeside(path, bytes, reason);
  if (temporary.empty()) return Publication::kFailed;
  const FileStamp ours = LinkStampOf(temporary);
  const FolderTurn turn(path);
  const Publication published = expected.exists ? PublishOver(temporary, path, expected, ours, reason)
                                                 : PublishNew(temporary, path, reason);
  if (published == Publication::kPublished) {
    SyncFolderOf(path);
    if (publishedStamp != nullptr) *publishedStamp = ours;
  }
  return published;
}

}  // namespace labeler
