// A drive at USB speed for bench/job: a FUSE filesystem with one file,
// drive.img, whose bytes live in STORE (a file in memory) and which takes
// writes and serves reads no faster than the given rates, like a USB stick.
// A loop device over MOUNT/drive.img is then a slow drive.
//
//   rate_limited_drive STORE MOUNT WRITE_MBPS READ_MBPS
//
// Runs in the foreground until unmounted (umount MOUNT) or signalled. On the
// way out it prints the requests it served to standard error.
//
// The drive is one queue, as a real one is: every request occupies it for
// its length at its rate, one after the other, so throughput is the rate
// whatever the request sizes and however they overlap. The kernel's page
// cache is kept out of the file (direct_io), so every read-back reaches here.

#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const char kName[] = "drive.img";

static struct {
  int store;
  off_t size;
  double writeRate, readRate;  // bytes per second
  pthread_mutex_t lock;
  double busyUntil;  // seconds on CLOCK_MONOTONIC
  uint64_t reads, writes, readBytes, writtenBytes;
} drive = {.lock = PTHREAD_MUTEX_INITIALIZER};

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

// Holds the caller until the drive would have finished this transfer.
static void occupy(size_t bytes, double rate) {
  pthread_mutex_lock(&drive.lock);
  const double start = drive.busyUntil > now() ? drive.busyUntil : now();
  const double end = start + (double)bytes / rate;
  drive.busyUntil = end;
  pthread_mutex_unlock(&drive.lock);
  struct timespec until = {.tv_sec = (time_t)end,
                           .tv_nsec = (long)((end - (double)(time_t)end) * 1e9)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
  }
}

static int isDrive(const char* path) { return path[0] == '/' && strcmp(path + 1, kName) == 0; }

static int getattrOf(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (!isDrive(path)) return -ENOENT;
  st->st_mode = S_IFREG | 0600;
  st->st_nlink = 1;
  st->st_size = drive.size;
  return 0;
}

static int readdirOf(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset, (void)fi, (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", NULL, 0, 0);
  fill(buffer, "..", NULL, 0, 0);
  fill(buffer, kName, NULL, 0, 0);
  return 0;
}

static int openOf(const char* path, struct fuse_file_info* fi) {
  if (!isDrive(path)) return -ENOENT;
  fi->direct_io = 1;
  return 0;
}

static int readOf(const char* path, char* buffer, size_t size, off_t offset,
                  struct fuse_file_info* fi) {
  (void)path, (void)fi;
  if (offset >= drive.size) return 0;
  if ((off_t)size > drive.size - offset) size = (size_t)(drive.size - offset);
  occupy(size, drive.readRate);
  const ssize_t n = pread(drive.store, buffer, size, offset);
  if (n < 0) return -errno;
  __atomic_add_fetch(&drive.reads, 1, __ATOMIC_RELAXED);
  __atomic_add_fetch(&drive.readBytes, (uint64_t)n, __ATOMIC_RELAXED);
  return (int)n;
}

static int writeOf(const char* path, const char* buffer, size_t size, off_t offset,
                   struct fuse_file_info* fi) {
  (void)path, (void)fi;
  if (offset >= drive.size) return -ENOSPC;
  if ((off_t)size > drive.size - offset) size = (size_t)(drive.size - offset);
  occupy(size, drive.writeRate);
  const ssize_t n = pwrite(drive.store, buffer, size, offset);
  if (n < 0) return -errno;
  __atomic_add_fetch(&drive.writes, 1, __ATOMIC_RELAXED);
  __atomic_add_fetch(&drive.writtenBytes, (uint64_t)n, __ATOMIC_RELAXED);
  return (int)n;
}

static int syncOf(const char* path, int dataOnly, struct fuse_file_info* fi) {
  (void)path, (void)dataOnly, (void)fi;
  return 0;  // every write was taken at the drive's pace already
}

static void* initOf(struct fuse_conn_info* conn, struct fuse_config* config) {
  // Whole megabytes per request, as a USB mass-storage driver sends them.
  conn->max_write = 1 << 20;
  conn->max_read = 1 << 20;
  config->direct_io = 1;
  config->kernel_cache = 0;
  config->attr_timeout = 3600;
  config->entry_timeout = 3600;
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s STORE MOUNT WRITE_MBPS READ_MBPS\n", argv[0]);
    return 2;
  }
  drive.store = open(argv[1], O_RDWR | O_CLOEXEC);
  struct stat st;
  if (drive.store < 0 || fstat(drive.store, &st) != 0) {
    perror(argv[1]);
    return 1;
  }
  drive.size = st.st_size;
  drive.writeRate = atof(argv[3]) * 1e6;
  drive.readRate = atof(argv[4]) * 1e6;
  if (drive.writeRate <= 0 || drive.readRate <= 0) {
    fprintf(stderr, "rates must be positive\n");
    return 2;
  }

  static const struct fuse_operations operations = {
      .getattr = getattrOf,
      .readdir = readdirOf,
      .open = openOf,
      .read = readOf,
      .write = writeOf,
      .fsync = syncOf,
      .init = initOf,
  };
  // Foreground, one request at a time (the drive is one queue anyway), and
  // unmounted by the kernel if this process dies.
  char* args[] = {argv[0], "-f", "-s", "-o", "auto_unmount,max_read=1048576", argv[2], NULL};
  const int status = fuse_main(6, args, &operations, NULL);
  fprintf(stderr, "rate_limited_drive: %llu reads (%llu bytes), %llu writes (%llu bytes)\n",
          (unsigned long long)drive.reads, (unsigned long long)drive.readBytes,
          (unsigned long long)drive.writes, (unsigned long long)drive.writtenBytes);
  return status;
}
