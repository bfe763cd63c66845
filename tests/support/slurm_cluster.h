// A private single-node Slurm for tests that submit jobs as a cluster's users do: munged, slurmctld and slurmd
// from Debian's packages, run in the foreground as children of the test process so that the test alone owns
// them. Their configuration, key, socket, state and spool live in a temporary folder, and the two ports are
// picked free, so a cluster neither uses nor disturbs anything of the machine's (not even a system munged).
//
// Created by the test, which talks to it only through Run (the Slurm client commands, pointed at this cluster by
// SLURM_CONF). Destruction cancels every job still queued or running, then stops the three daemons and waits
// for them, also when the test fails half-way: no process outlives the cluster.
#ifndef LABELER_TESTS_SUPPORT_SLURM_CLUSTER_H_
#define LABELER_TESTS_SUPPORT_SLURM_CLUSTER_H_

#include <sys/types.h>

#include <memory>
#include <string>

#include "support/temp_dir.h"
#include "support/tool_run.h"

namespace labeler::testing {

// A program run in the foreground as this process's child, its standard output and error in one file; ended
// with SIGTERM (SIGKILL if it lingers) and waited for on destruction.
class Daemon {
 public:
  Daemon(const std::string& command, const std::string& logFile);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // True once the program has ended by itself.
  bool Exited();
  // The program's own reason for stopping: its last fatal line, else its last error line, else its last line.
  std::string LastError() const;
  const std::string& logFile() const { return logFile_; }

 private:
  std::string logFile_;
  pid_t pid_ = -1;
};

class SlurmCluster {
 public:
  enum class State { kUp, kSlurmdRefused, kFailed };

  // Writes the configuration; starts nothing.
  SlurmCluster();
  ~SlurmCluster();
  SlurmCluster(const SlurmCluster&) = delete;
  SlurmCluster& operator=(const SlurmCluster&) = delete;

  // Starts munged, then slurmctld and slurmd, and waits for the node to take jobs: kUp once it is idle;
  // kSlurmdRefused when slurmd gave up on this machine (a kernel or container without what it needs, no fault
  // of the test), with slurmd's own line in `why`; kFailed for anything else, with every log in `why`.
  State Start(std::string* why);
  // Runs a Slurm client command line in `folder` against this cluster.
  ToolRun Run(const std::string& command, const std::string& folder) const;
  // Waits until job `id` (all of an array's tasks) has left the queue; false if it is still there after
  // `seconds` or the controller stopped answering.
  bool WaitForJob(const std::string& id, double seconds) const;
  // The three daemons' output, for a failure message.
  std::string Logs() const;

 private:
  void WriteConfiguration();
  void CancelEveryJob() const;

  TempDir dir_;
  std::string conf_;
  // Started in this order and stopped in the reverse one, slurmd first.
  std::unique_ptr<Daemon> munged_, slurmctld_, slurmd_;
};

}  // namespace labeler::testing

#endif  // LABELER_TESTS_SUPPORT_SLURM_CLUSTER_H_
