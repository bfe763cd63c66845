// RunOnThreads: one piece of work run on several threads at once, its failures brought back to the caller.
//
// An exception that leaves a thread's function ends the whole process, whatever the code that started the
// thread would have done with it. Here each worker's exception is caught on its own thread, every worker is
// joined, and the first exception caught is rethrown on the calling thread, as if all the work had run there.
#ifndef LABELER_COMMON_RUN_ON_THREADS_H_
#define LABELER_COMMON_RUN_ON_THREADS_H_

#include <functional>

namespace labeler {

// Runs work(0), ..., work(count - 1) at once: work(0) on the calling thread, each other on a thread of its own
// (or after work(0) on the calling thread, when the system has no thread to spare). Returns when all of them
// have returned; they may share the caller's data, which outlives them. When any of them threw, the first
// exception thrown is then rethrown here; the others still ran to their end.
void RunOnThreads(int count, const std::function<void(int)>& work);

}  // namespace labeler

#endif  // LABELER_COMMON_RUN_ON_THREADS_H_
