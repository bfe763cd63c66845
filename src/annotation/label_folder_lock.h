// LabelFolderLock: a note in the label folder saying which labeller has it open, so that a second one can tell.
//
// Teams keep label folders on shared disks, and two labellers may open the same clip. The lock is advisory: the
// file ".labeler.lock" in the label folder holds the host, process id and start time of the labeller that took
// it. A labeller that finds another's lock starts anyway and says once who else has the folder open (its saves
// are then guarded by the conflict check of LabelImages); a lock left on this host by a process that no longer
// runs is taken over, with a line saying so. The lock is removed on destruction if it is still this process's.
#ifndef LABELER_ANNOTATION_LABEL_FOLDER_LOCK_H_
#define LABELER_ANNOTATION_LABEL_FOLDER_LOCK_H_

#include <string>

namespace labeler {

class LabelFolderLock {
 public:
  // Takes the lock of `labelDir` when it is free or left behind, else says who holds it.
  explicit LabelFolderLock(const std::string& labelDir);
  ~LabelFolderLock();
  LabelFolderLock(const LabelFolderLock&) = delete;
  LabelFolderLock& operator=(const LabelFolderLock&) = delete;

  bool held() const { return held_; }

 private:
  enum class Attempt { kTaken, kHeldByAnother, kFailed };
  Attempt TryCreate();
  bool TakeOver(const std::string& left);

  std::string path_;
  std::string mine_;  // the content this process wrote
  bool held_ = false;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_FOLDER_LOCK_H_
