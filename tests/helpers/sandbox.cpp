#include "helpers/sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

#include "helpers/temp_dir.h"

namespace {

struct SetupError : std::runtime_error {
  explicit SetupError(const std::string& step)
      : std::runtime_error("sandbox: " + step + ": " + std::strerror(errno)) {}
};

void check(bool ok, const std::string& step) {
  if (!ok) throw SetupError(step);
}

std::string firstComponent(const std::string& path) {
  return path.substr(0, path.find('/', 1));
}

std::string parentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool onHost(const std::string& path) {
  struct stat st{};
  return lstat(path.c_str(), &st) == 0;
}

void makeDirectories(const std::string& path) {
  for (std::size_t at = 1; at != std::string::npos;) {
    at = path.find('/', at + 1);
    const std::string prefix = path.substr(0, at);
    check(mkdir(prefix.c_str(), 0755) == 0 || errno == EEXIST, "mkdir " + prefix);
  }
}

void mountTmpfs(const std::string& at) {
  check(mount("tmpfs", at.c_str(), "tmpfs", 0, "mode=0755") == 0, "tmpfs on " + at);
}

// An in-memory root with every top-level entry of the host's bound into it.
void mirrorRoot(const std::string& root) {
  mountTmpfs(root);
  DIR* dir = opendir("/");
  check(dir != nullptr, "opendir /");
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string host = "/" + name, inner = root + "/" + name;
    struct stat st{};
    if (lstat(host.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t n = readlink(host.c_str(), target, sizeof target - 1);
      check(n >= 0 && symlink(std::string(target, n).c_str(), inner.c_str()) == 0, "link " + inner);
      continue;
    }
    if (S_ISDIR(st.st_mode)) check(mkdir(inner.c_str(), 0755) == 0, "mkdir " + inner);
    else writeFile(inner, "");
    check(mount(host.c_str(), inner.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0,
          "bind " + host);
  }
  closedir(dir);
}

void addVolume(const std::string& root, const std::string& path) {
  errno = EEXIST;
  check(!onHost(firstComponent(path)), "volume under a host directory " + path);
  makeDirectories(root + path);
  mountTmpfs(root + path);
}

void addFile(const std::string& root, const SandboxFile& file, std::set<std::string>& overlaid) {
  const std::string parent = parentOf(file.path);
  if (!onHost(firstComponent(file.path))) {
    makeDirectories(root + parent);
  } else if (overlaid.insert(parent).second) {
    const std::string layer = root + "/.sandbox-overlay/" + std::to_string(overlaid.size());
    makeDirectories(layer + "/upper");
    makeDirectories(layer + "/work");
    const std::string options = "lowerdir=" + root + parent + ",upperdir=" + layer +
                                "/upper,workdir=" + layer + "/work";
    check(mount("overlay", (root + parent).c_str(), "overlay", 0, options.c_str()) == 0,
          "overlay on " + parent);
  }
  struct stat st{};
  check(stat(file.source.c_str(), &st) == 0, "stat " + file.source);
  writeFile(root + file.path, readFile(file.source), st.st_mode & 07777);
}

void makeNode(const std::string& dev, const SandboxNode& node) {
  const std::string path = dev + "/" + node.name;
  if (node.type == S_IFLNK) check(symlink(node.target.c_str(), path.c_str()) == 0, "link " + path);
  else if (node.type == S_IFREG) writeFile(path, "", 0600);
  else check(mknod(path.c_str(), node.type | 0600, node.device) == 0, "mknod " + path);
}

void privateDev(const std::string& dev, const std::vector<SandboxNode>& nodes) {
  mountTmpfs(dev);
  const std::pair<const char*, unsigned> standard[] = {
      {"null", 3}, {"zero", 5}, {"random", 8}, {"urandom", 9}};
  for (const auto& [name, minorNumber] : standard) {
    const std::string path = dev + "/" + name;
    check(mknod(path.c_str(), S_IFCHR | 0666, makedev(1, minorNumber)) == 0, "mknod " + path);
  }
  for (const SandboxNode& node : nodes) makeNode(dev, node);
}

void setUp(const Sandbox& sandbox, const std::string& root) {
  check(unshare(CLONE_NEWNS) == 0, "unshare");
  check(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, "make / private");
  const bool mirrored = !root.empty();
  if (mirrored) mirrorRoot(root);
  for (const std::string& volume : sandbox.volumes) addVolume(root, volume);
  std::set<std::string> overlaid;
  for (const SandboxFile& file : sandbox.files) addFile(root, file, overlaid);
  if (sandbox.privateDev) privateDev(root + "/dev", sandbox.nodes);
  if (mirrored) check(chroot(root.c_str()) == 0 && chdir("/") == 0, "chroot");
}

void writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

[[noreturn]] void child(const Sandbox& sandbox, const std::string& root,
                        const std::function<std::string()>& body, int resultFd) {
  std::string result;
  try {
    setUp(sandbox, root);
    try {
      result = body();
    } catch (const std::exception& error) {
      result = std::string("exception: ") + error.what();
    }
  } catch (const std::exception& error) {
    result = error.what();
  }
  writeAll(resultFd, result);
  _exit(0);
}

// Reads the child's result; kills it if it takes more than two minutes.
std::string collect(pid_t pid, int fd) {
  std::string result;
  char buffer[4096];
  for (;;) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, 120000);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "sandbox: child ended abnormally";
  return result;
}

}  // namespace

Sandbox privateDevWith(std::vector<SandboxNode> nodes) {
  Sandbox sandbox;
  sandbox.privateDev = true;
  sandbox.nodes = std::move(nodes);
  return sandbox;
}

std::string runSandboxed(const Sandbox& sandbox, const std::function<std::string()>& body) {
  std::string root;
  if (!sandbox.volumes.empty() || !sandbox.files.empty()) {
    char pattern[] = "/tmp/writer-sandbox-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return "sandbox: mkdtemp failed";
    root = pattern;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return "sandbox: pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    child(sandbox, root, body, ends[1]);
  }
  close(ends[1]);
  const std::string result = pid < 0 ? "sandbox: fork failed" : collect(pid, ends[0]);
  close(ends[0]);
  // Only ever rmdir: the root was mounted over in the child's namespace
  // alone and is an empty directory again on the host.
  if (!root.empty()) rmdir(root.c_str());
  return result;
}
