#include "common/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::string WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::filesystem::path target(path);
  std::string hiddenName = ".";
  hiddenName += target.filename().string();
  hiddenName += ".XXXXXX";
  std::string temporary = (target.parent_path() / hiddenName).string();
  int fd = mkstemp(temporary.data());
  if (fd < 0) return std::strerror(errno);
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::string reason = n < 0 ? std::strerror(errno) : "short write";
      close(fd);
      unlink(temporary.c_str());
      return reason;
    }
    written += static_cast<size_t>(n);
  }
  fchmod(fd, 0644);
  if (fsync(fd) != 0 || close(fd) != 0) {
    std::string reason = std::strerror(errno);
    unlink(temporary.c_str());
    return reason;
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::string reason = std::strerror(errno);
    unlink(temporary.c_str());
    return reason;
  }
  int dirFd = open(target.parent_path().empty() ? "." : target.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return "";
}

}  // namespace labeler
