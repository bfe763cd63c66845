// Files as the labeller reads and writes them: only regular files are opened, and a file is replaced whole.
#ifndef LABELER_COMMON_FILES_H_
#define LABELER_COMMON_FILES_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace labeler {

// Why `path` can't be read as a file: "is a folder", "is a FIFO", "is a device", "is a socket", or "" when it
// is a regular file after following links, or when nothing is there (opening it then fails as usual). Opening a
// FIFO or a device would block or never end, so every reader asks first.
std::string NotARegularFile(const std::string& path);

// Consumes a UTF-8 byte-order mark at the start of `file`, if there is one; editors on some systems write it.
void SkipByteOrderMark(std::FILE* file);

// Writes `bytes` to a temporary file beside `path` (".NAME.XXXXXX") and renames it over `path`, so that a crash
// or a full disk leaves either the old file or the new one, never a torn one. Returns "" or the reason it failed;
// on failure nothing is left behind.
std::string WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes);

// What tells a file's version apart without reading it: a rename over it (a save) changes the inode, a write in
// place the size or the modification time.
struct FileStamp {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of `path` after following links; `exists` false when nothing can be found there.
FileStamp StampOf(const std::string& path);

enum class Publication { kPublished, kChangedMeanwhile, kFailed };

// Writes `bytes` to `path` as WriteFileAtomically does, but only while `path` still holds the version `expected`
// (nothing, when `expected.exists` is false), and says so in `publishedStamp`, the stamp of the version written.
// A version another process published in between is never replaced: kChangedMeanwhile then, and nothing is
// written. Labellers take turns through a lock on the folder; against other programs the check and the
// replacement are one exchange where the file system offers it. kFailed says why in `reason`.
// A version a program that takes no turn wrote in the very act is kept as "PATH.kept-PID".
Publication PublishIfUnchanged(const std::string& path, const std::vector<unsigned char>& bytes,
                               const FileStamp& expected, std::string& reason, FileStamp* publishedStamp = nullptr);

}  // namespace labeler

#endif  // LABELER_COMMON_FILES_H_
