#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// Test code run in a forked child inside a private mount namespace, where it
// can see device nodes, directories and files the host does not have. The
// child first makes every mount private, so nothing it mounts reaches the
// host, and everything it mounts goes away with it. Needs root.

// An entry of the sandbox's own /dev.
struct SandboxNode {
  std::string name;       // e.g. "rdisk7" for /dev/rdisk7
  mode_t type = S_IFBLK;  // S_IFBLK, S_IFCHR, S_IFREG (an empty file) or S_IFLNK
  dev_t device = 0;       // of a device node
  std::string target;     // of a symbolic link
};

// A copy of the host file `source` placed at `path`, keeping its mode.
struct SandboxFile {
  std::string path;
  std::string source;
};

struct Sandbox {
  // Replaces /dev with an empty in-memory one holding null, zero, random,
  // urandom and `nodes`.
  bool privateDev = false;
  std::vector<SandboxNode> nodes;
  // Directories that the host lacks at its top level (e.g.
  // "/System/Volumes/Data"), each made a separate in-memory volume.
  std::vector<std::string> volumes;
  // Files to add; under an existing host directory they are written through
  // an overlay on that directory, so the host directory is never touched.
  std::vector<SandboxFile> files;
};

// A sandbox that only replaces /dev, holding `nodes`.
Sandbox privateDevWith(std::vector<SandboxNode> nodes);

// Runs `body` in a child set up as `sandbox` says and returns what it
// returned. With volumes or files the child runs chrooted in a copy of /: an
// in-memory root holding a bind mount of every top-level host entry. Gives
// "exception: " + what() when the body threw, "sandbox: ..." when the setup
// failed and "sandbox: child ended abnormally" when the child crashed or
// outlived two minutes. The body runs in another process: it must report
// through its result, not through test assertions.
std::string runSandboxed(const Sandbox& sandbox, const std::function<std::string()>& body);
