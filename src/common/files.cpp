#include "common/files.h"

#include <fcntl.h>
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

FileStamp StampOf(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return {};
  return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
          static_cast<int64_t>(status.st_size),
          static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
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

FileStamp LinkStampOf(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return {};
  return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
          static_cast<int64_t>(status.st_size),
          static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

// Nothing at `path`: a hard link publishes the file only if no other has appeared there, on every file system.
Publication PublishNew(const std::string& temporary, const std::string& path, std::string& reason) {
  if (link(temporary.c_str(), path.c_str()) == 0) {
    unlink(temporary.c_str());
    return Publication::kPublished;
  }
  const int error = errno;
  unlink(temporary.c_str());
  if (error == EEXIST) return Publication::kChangedMeanwhile;
  reason = std::strerror(error);
  return Publication::kFailed;
}

// The new version is swapped in and the one it replaced examined, in this process's hands alone: if it is not the
// version expected, it is swapped back. A file found in the way of the swap back (a third writer's, within those
// microseconds) is kept as a conflict of its own rather than removed.
Publication PublishOver(const std::string& temporary, const std::string& path, const FileStamp& expected,
                        std::string& reason) {
  const FileStamp ours = LinkStampOf(temporary);
  if (renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
    const int error = errno;
    if (error == ENOENT) return PublishNew(temporary, path, reason);  // it was removed meanwhile
    if (error != EINVAL && error != ENOSYS) {
      unlink(temporary.c_str());
      reason = std::strerror(error);
      return Publication::kFailed;
    }
    // No exchange on this file system: the check and the rename are as close together as they can be.
    if (StampOf(path) != expected) {
      unlink(temporary.c_str());
      return Publication::kChangedMeanwhile;
    }
    if (std::rename(temporary.c_str(), path.c_str()) == 0) return Publication::kPublished;
    reason = std::strerror(errno);
    unlink(temporary.c_str());
    return Publication::kFailed;
  }
  if (LinkStampOf(temporary) == expected) {
    unlink(temporary.c_str());
    return Publication::kPublished;
  }
  renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
  if (LinkStampOf(temporary) == ours) {
    unlink(temporary.c_str());
  } else {
    PublishNew(temporary, path + ".kept-" + std::to_string(getpid()), reason);
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
                               const FileStamp& expected, std::string& reason) {
  const std::string temporary = WriteBeside(path, bytes, reason);
  if (temporary.empty()) return Publication::kFailed;
  const Publication published =
      expected.exists ? PublishOver(temporary, path, expected, reason) : PublishNew(temporary, path, reason);
  if (published == Publication::kPublished) SyncFolderOf(path);
  return published;
}

}  // namespace labeler
