// Runs a piece of a test on a nearly full file system: a tmpfs of the given size, mounted in a mount
// namespace of a child process (so nothing outlives the child), or, where mounting is not allowed, a
// folder under a file-size limit on the child. The piece runs in the child; what it reports comes back.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace ulmora::test {

struct SmallDiskResult {
  bool ran = false;        // the child ran the piece to its end
  bool mounted = false;    // a real tmpfs (else a file-size limit)
  std::string report;      // what the piece returned: empty means it found nothing wrong
};

// fn(dir) runs in a child with dir on a file system of about kib KiB; it returns "" or what went wrong.
inline SmallDiskResult RunOnSmallDisk(size_t kib, const std::function<std::string(const std::string&)>& fn) {
  char pattern[] = "/tmp/ulmora-disk-XXXXXX";
  const char* dir = mkdtemp(pattern);
  SmallDiskResult result;
  if (!dir) return result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  const uid_t uid = getuid();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    char mounted = 0;
    // Root may mount in a namespace of its own; others first need a user namespace.
    if (unshare(CLONE_NEWNS) == 0 || unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) {
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
      const std::string opts = "size=" + std::to_string(kib) + "k,uid=" + std::to_string(uid);
      mounted = mount("tmpfs", dir, "tmpfs", 0, opts.c_str()) == 0;
    }
    if (!mounted) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit rl{kib * 1024, kib * 1024};
      setrlimit(RLIMIT_FSIZE, &rl);
    }
    std::string report = fn(dir);
    report.insert(report.begin(), mounted);
    ssize_t n = write(fds[1], report.data(), report.size());
    _exit(n == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string got;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n < 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  std::string rm = std::string("rm -rf '") + dir + "'";
  if (system(rm.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir);
  if (got.empty() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return result;
  result.ran = true;
  result.mounted = got[0] != 0;
  result.report = got.substr(1);
  return result;
}

}  // namespace ulmora::test
