#include "annotation/label_folder_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "common/fatal_error.h"

namespace labeler {
namespace {

constexpr const char* kLockName = "/.labeler.lock";
constexpr const char* kNoteName = "/.labeler.note.";

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "unknown-host";
  return name;
}

std::string Now() {
  const std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return text;
}

// What a lock file says: "host <name>\npid <number>\nstarted <time>\n".
struct LockHolder {
  std::string host;
  long pid = 0;
  std::string started;
};

LockHolder ReadHolder(const std::string& path) {
  std::ifstream in(path);
  LockHolder holder;
  std::string key;
  while (in >> key) {
    if (key == "host") {
      in >> holder.host;
    } else if (key == "pid") {
      in >> holder.pid;
    } else if (key == "started") {
      std::getline(in >> std::ws, holder.started);
    }
  }
  return holder;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool RunsHere(const LockHolder& holder) {
  return holder.pid > 0 && (kill(static_cast<pid_t>(holder.pid), 0) == 0 || errno == EPERM);
}

// A lock no running labeller holds: one of this host whose process is gone, or an empty one, left by a labeller
// killed while it wrote it.
bool LeftBehind(const std::string& content, const LockHolder& holder) {
  return content.empty() || (holder.host == HostName() && !RunsHere(holder));
}

}  // namespace

LabelFolderLock::LabelFolderLock(const std::string& labelDir)
    : path_(labelDir + kLockName), notePrefix_(labelDir + kNoteName) {
  mine_ = "host " + HostName() + "\npid " + std::to_string(getpid()) + "\nstarted " + Now() + "\n";
  // A folder the lock can't be written to (read-only, say) has no lock to show; its saves say what fails.
  const Attempt attempt = TryCreate();
  if (attempt == Attempt::kFailed) return;
  if (attempt == Attempt::kHeldByAnother) {
    const std::string left = ReadAll(path_);
    const LockHolder holder = ReadHolder(path_);
    if (LeftBehind(left, holder) && TakeOver(left)) {
      std::fprintf(stderr,
                   "%s: took over the lock of label folder %s left by process %ld (started %s), which no longer "
                   "runs\n",
                   ProgramName().c_str(), labelDir.c_str(), holder.pid, holder.started.c_str());
    }
  }
  if (!held_) LeaveNote();
  FindOthers(labelDir);
}

void LabelFolderLock::LeaveNote() {
  const std::string note = notePrefix_ + HostName() + "." + std::to_string(getpid());
  std::ofstream out(note, std::ios::binary | std::ios::trunc);
  out << mine_;
  if (out) note_ = note;
}

// The holder of the lock and the writers of the notes, but for this process and those of this host that no
// longer run, whose notes are removed.
void LabelFolderLock::FindOthers(const std::string& labelDir) {
  std::vector<LockHolder> others;
  if (!held_) others.push_back(ReadHolder(path_));
  const std::string notePrefix = std::filesystem::path(notePrefix_).filename().string();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(labelDir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(notePrefix, 0) != 0 || entry.path().string() == note_) continue;
    const std::string content = ReadAll(entry.path().string());
    const LockHolder holder = ReadHolder(entry.path().string());
    if (!LeftBehind(content, holder)) {
      others.push_back(holder);
    } else if (std::filesystem::remove(entry.path(), error)) {
      std::printf("Removed the note of label folder %s left by process %ld (started %s), which no longer runs.\n",
                  labelDir.c_str(), holder.pid, holder.started.c_str());
    }
  }
  std::erase_if(others, [](const LockHolder& holder) { return holder.pid == 0; });
  if (others.empty()) return;
  std::string who;
  for (size_t i = 0; i < others.size(); ++i) {
    if (i > 0) who += i + 1 == others.size() ? " and " : ", ";
    who += "process " + std::to_string(others[i].pid) + " on " + others[i].host + " (started " + others[i].started +
           ")";
  }
  othersNotice_ = "Label folder " + labelDir + " is also open in " + who +
                  ". A frame saved there after this labeller loaded it is not replaced: this labeller's version "
                  "goes beside it.";
  std::fprintf(stderr,
               "%s: warning: label folder %s is also open in %s; a frame it saved after this labeller loaded "
               "it is not replaced, this labeller's version goes beside it\n",
               ProgramName().c_str(), labelDir.c_str(), who.c_str());
}

// Replaces the lock `left` behind by a process that no longer runs, unless another labeller did so first: the
// lock is written beside and renamed over it only while it still holds `left`, and read back, so that of two
// labellers taking over at once the one whose lock stays knows it holds the folder and the other does not.
bool LabelFolderLock::TakeOver(const std::string& left) {
  const std::string beside = path_ + "." + std::to_string(getpid());
  {
    std::ofstream out(beside, std::ios::binary | std::ios::trunc);
    out << mine_;
    if (!out) return false;
  }
  if (ReadAll(path_) != left || std::rename(beside.c_str(), path_.c_str()) != 0) {
    std::remove(beside.c_str());
    return false;
  }
  held_ = ReadAll(path_) == mine_;
  return held_;
}

LabelFolderLock::~LabelFolderLock() {
  if (held_ && ReadAll(path_) == mine_) std::remove(path_.c_str());
  if (!note_.empty() && ReadAll(note_) == mine_) std::remove(note_.c_str());
}

// Creates the lock file only if there is none: of two labellers starting at once, one takes it.
LabelFolderLock::Attempt LabelFolderLock::TryCreate() {
  const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return errno == EEXIST ? Attempt::kHeldByAnother : Attempt::kFailed;
  held_ = write(fd, mine_.data(), mine_.size()) == static_cast<ssize_t>(mine_.size());
  close(fd);
  if (!held_) std::remove(path_.c_str());
  return held_ ? Attempt::kTaken : Attempt::kFailed;
}

}  // namespace labeler
