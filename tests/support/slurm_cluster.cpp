#include "support/slurm_cluster.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace labeler::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Generous: the daemons start in a second or two, but share the machine's two cores with other tests. With the
// job's own limit, the whole test stays within ctest's timeout for it even when every wait runs out.
constexpr double kStartSeconds = 60;
constexpr double kStopSeconds = 10;
// Ports below the kernel's range for outgoing connections (32768 up on Linux), so that no connection another
// test opens meanwhile takes one between choosing it and the daemon's bind.
constexpr int kLowestPort = 20000;
constexpr int kPortsAbove = 12000;

void Pause() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

Clock::time_point After(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// `count` distinct TCP ports, picked at random below the outgoing range, that could be bound on every address
// now (held together while they are picked).
std::vector<int> FreePorts(int count) {
  std::vector<int> sockets, ports;
  std::srand(static_cast<unsigned>(getpid() ^ time(nullptr)));
  for (int tries = 0; static_cast<int>(ports.size()) < count && tries < 1000; ++tries) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(kLowestPort + std::rand() % kPortsAbove));
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      sockets.push_back(fd);
      ports.push_back(ntohs(address.sin_port));
    } else {
      close(fd);
    }
  }
  for (int fd : sockets) close(fd);
  return ports;
}

// Whether slurmd's last word says the machine lacks what it needs (cgroups, privileges a container withholds),
// rather than a fault of the test's own making.
bool MachineLacksWhatSlurmdNeeds(const std::string& line) {
  for (const char* sign : {"cgroup", "Operation not permitted", "Permission denied", "not supported"}) {
    if (line.find(sign) != std::string::npos) return true;
  }
  return false;
}

// The name slurmd gives itself: the host name up to its first dot.
std::string ShortHostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  const std::string host = name;
  return host.substr(0, host.find('.'));
}

std::string UserName() {
  const passwd* user = getpwuid(geteuid());
  return user != nullptr ? user->pw_name : std::to_string(geteuid());
}

}  // namespace

Daemon::Daemon(const std::string& command, const std::string& logFile) : logFile_(logFile) {
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that crashes leaves no daemon behind
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    const std::string replaced = "exec " + command;  // the shell gives way: pid_ is the daemon's own
    execl("/bin/sh", "sh", "-c", replaced.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
}

Daemon::~Daemon() {
  if (Exited()) return;
  kill(pid_, SIGTERM);
  const auto deadline = After(kStopSeconds);
  while (!Exited() && Clock::now() < deadline) Pause();
  if (!Exited()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool Daemon::Exited() {
  if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
  return pid_ <= 0;
}

std::string Daemon::LastError() const {
  std::istringstream lines(ReadFile(logFile_));
  std::string line, fatal, error, last;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line.find("fatal") != std::string::npos) fatal = line;
    if (line.find("error") != std::string::npos) error = line;
    last = line;
  }
  return !fatal.empty() ? fatal : !error.empty() ? error : last;
}

SlurmCluster::SlurmCluster() {
  // Each job's slurmstepd leaves slurmd's process tree; as their subreaper this process gets them back, to wait
  // for them as for the daemons.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  // munged refuses a socket in a folder that not everyone may enter.
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                                std::filesystem::perms::others_exec);
  std::filesystem::create_directory(dir_.File("state"));
  std::filesystem::create_directory(dir_.File("spool"));
  WriteConfiguration();
}

SlurmCluster::~SlurmCluster() {
  // slurmd leaves running jobs to their own slurmstepd, which would outlive it: they are ended first.
  if (slurmctld_ != nullptr && !slurmctld_->Exited()) CancelEveryJob();
  slurmd_.reset();
  slurmctld_.reset();
  munged_.reset();
  const auto deadline = After(kStopSeconds);
  while (waitpid(-1, nullptr, WNOHANG) >= 0 && Clock::now() < deadline) Pause();
}

void SlurmCluster::WriteConfiguration() {
  const std::vector<int> ports = FreePorts(2);
  if (ports.size() < 2) throw std::runtime_error("no two free TCP ports between 20000 and 32000");
  std::ostringstream conf;
  conf << "ClusterName=labelertest\nSlurmctldHost=localhost\nSlurmctldPort=" << ports[0]
       << "\nSlurmdPort=" << ports[1] << "\nSlurmUser=" << UserName()
       << "\nAuthType=auth/munge\nAuthInfo=socket=" << dir_.File("munge.socket")
       << "\nStateSaveLocation=" << dir_.File("state") << "\nSlurmdSpoolDir=" << dir_.File("spool")
       << "\nSlurmctldPidFile=" << dir_.File("slurmctld.pid") << "\nSlurmdPidFile=" << dir_.File("slurmd.pid")
       // Plugins that need no cgroups, so that slurmd runs in containers too.
       << "\nProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\nMpiDefault=none"
       << "\nSelectType=select/cons_tres\nSelectTypeParameters=CR_CPU\nReturnToService=2"
       // The node declares 8 CPUs whatever the machine has (config_overrides lets slurmd accept that), so that
       // a job asking for 4 per task, as a cluster's would, runs here two tasks at a time.
       << "\nSlurmdParameters=config_overrides\nNodeName=" << ShortHostName()
       << " NodeAddr=127.0.0.1 CPUs=8 State=UNKNOWN"
       << "\nPartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP\n";
  conf_ = dir_.Write("slurm.conf", conf.str());
}

SlurmCluster::State SlurmCluster::Start(std::string* why) {
  ToolRun key = RunCommand("mungekey --create --keyfile=" + dir_.File("munge.key"));
  if (key.status != 0) {
    *why = "mungekey: " + key.output;
    return State::kFailed;
  }
  munged_ = std::make_unique<Daemon>("munged --foreground --socket=" + dir_.File("munge.socket") +
                                         " --key-file=" + dir_.File("munge.key") + " --pid-file=" +
                                         dir_.File("munged.pid") + " --seed-file=" + dir_.File("munged.seed"),
                                     dir_.File("munged.log"));
  const auto deadline = After(kStartSeconds);
  while (!std::filesystem::exists(dir_.File("munge.socket")) && !munged_->Exited() && Clock::now() < deadline) {
    Pause();
  }
  const std::string env = "env SLURM_CONF=" + conf_ + " ";
  slurmctld_ = std::make_unique<Daemon>(env + "slurmctld -D", dir_.File("slurmctld.log"));
  slurmd_ = std::make_unique<Daemon>(env + "slurmd -D", dir_.File("slurmd.log"));
  while (Clock::now() < deadline) {
    // slurmd alone gives up for want of what this machine has; the others only for a fault of the test's.
    if (munged_->Exited() || slurmctld_->Exited()) break;
    if (slurmd_->Exited()) {
      *why = slurmd_->LastError();
      if (MachineLacksWhatSlurmdNeeds(*why)) return State::kSlurmdRefused;
      break;
    }
    if (Run("sinfo -h -o %t", dir_.path().string()).output == "idle\n") return State::kUp;
    Pause();
  }
  *why = Logs();
  return State::kFailed;
}

ToolRun SlurmCluster::Run(const std::string& command, const std::string& folder) const {
  return RunCommand("cd " + folder + " && SLURM_CONF=" + conf_ + " " + command);
}

bool SlurmCluster::WaitForJob(const std::string& id, double seconds) const {
  const auto deadline = After(seconds);
  while (Clock::now() < deadline) {
    const ToolRun queue = Run("squeue -h -j " + id, dir_.path().string());
    if (queue.status == 0 && queue.output.empty()) return true;
    Pause();
  }
  return false;
}

std::string SlurmCluster::Logs() const {
  std::string logs;
  for (const Daemon* daemon : {munged_.get(), slurmctld_.get(), slurmd_.get()}) {
    if (daemon != nullptr) logs += "---- " + daemon->logFile() + "\n" + ReadFile(daemon->logFile());
  }
  return logs;
}

void SlurmCluster::CancelEveryJob() const {
  Run("scancel --partition=debug", dir_.path().string());
  const auto deadline = After(kStopSeconds);
  while (Run("squeue -h", dir_.path().string()).output != "" && Clock::now() < deadline) Pause();
}

}  // namespace labeler::testing
