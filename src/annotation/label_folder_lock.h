// LabelFolderLock: a note in the label folder saying which labeller has it open, so that a second one can tell.
//
// Teams keep label folders on shared disks, and two labellers may open the same clip. The lock is advisory: the
// file ".labeler.lock" in the label folder holds the host, process id and start time of the labeller that took
// it, and every labeller that finds it taken leaves a note of its own beside it (".labeler.note.HOST.PID"), so
// that a labeller started later hears of all of them, also after the first one quit. A labeller that finds
// others starts anyway and says once who has the folder open (its saves are then guarded by LabelFile's
// conflict check); a lock or note left on this host by a process that no longer runs is taken over or removed.
// The lock and the note are removed on destruction if they are still this process's.
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
  // No other labeller has the folder open: what a save in progress leaves may be cleared away.
  bool alone() const { return held_ && othersNotice_.empty(); }
  // The labellers that have the folder open besides this one, in one sentence; empty when there are none.
  const std::string& othersNotice() const { return othersNotice_; }

 private:
  enum class Attempt { kTaken, kHeldByAnother, kFailed };
  Attempt TryCreate();
  bool TakeOver(const std::string& left);
  void LeaveNote();
  void FindOthers(const std::string& labelDir);

  std::string path_;
  std::string notePrefix_;  // "<dir>/.labeler.note.", then host and process id
  std::string mine_;  // the content this process wrote
  bool held_ = false;
  std::string note_;  // the note this process left, when it did not take the lock
  std::string othersNotice_;
};

}  // namespace labeler

#endif  // LABELER_ANNOTATION_LABEL_FOLDER_LOCK_H_
