#include <fcntl.h>
#include <openssl/crypto.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/platform.h"
#include "support/system_error.h"

namespace {

// A sanitizer's shadow memory is writable data of its own, terabytes of it:
// under one, any data limit would fail the next allocation.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

}  // namespace

namespace Platform {

std::pair<UniqueFd, UniqueFd> makePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throwSystemError();
  return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

void inheritOnlyStandardDescriptors(posix_spawnattr_t&, posix_spawn_file_actions_t& actions) {
  // Close-on-exec is the rule for our own descriptors; this also covers any
  // the process inherited from whoever started it without that flag.
  const int err = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  if (err != 0) throwSystemError(err);
}

void startWithoutEnvironment() {
  (void)clearenv();
  // libcrypto would otherwise read a configuration file at its first use,
  // which may load modules of its own.
  (void)OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

void boundMemory() {
  // The data limit counts what the process can write to: heap, anonymous
  // mappings and thread stacks, but not the address space the allocator only
  // reserves nor the libraries. An xz dictionary of up to 64 MiB (preset -9e)
  // fits with room for the threads, chunk buffers and arenas of a job; one of
  // gigabytes fails to allocate, and the image reader reports it.
  if (kSanitized) return;
  constexpr rlim_t kDataBytes = rlim_t{256} << 20;
  const rlimit bound{kDataBytes, kDataBytes};
  (void)setrlimit(RLIMIT_DATA, &bound);
}

}  // namespace Platform
