# The sandbox's second half, run as PID 1 of the new namespaces: builds the
# private root and runs the command in it. Sourced by scripts/sandbox.

sandbox_inside() {
  local work=$1 device=$2 backing=$3 disk=$4 user=$5 uid=$6 fault=$7 programs=$8
  shift 9
  # What the sandbox makes is for every user in it, whatever the caller's
  # umask; the command gets the caller's back.
  local mask
  mask=$(umask)
  umask 022
  local root=$work/root
  mkdir -p "$root"
  mount -t tmpfs -o mode=0755 sandbox-root "$root"

  # The system itself, as the host has it (read-only where it can be).
  local entry
  for entry in bin sbin lib lib32 lib64 libx32; do
    if [[ -L /$entry ]]; then ln -s "$(readlink "/$entry")" "$root/$entry"
    elif [[ -d /$entry ]]; then mkdir "$root/$entry"; mount --rbind -o ro "/$entry" "$root/$entry"
    fi
  done
  mkdir -p "$root/usr" "$work/usr-upper" "$work/usr-work"
  mount -t overlay -o "lowerdir=/usr,upperdir=$work/usr-upper,workdir=$work/usr-work" \
    sandbox-usr "$root/usr"
  mkdir -p "$root/etc" "$root/sys" "$root/proc"
  mount --rbind /etc "$root/etc"
  mount -t proc proc "$root/proc"

  # The session user.
  grep -v "^$user:" /etc/passwd >"$work/passwd"
  echo "$user:x:$uid:$uid:Sandbox user:/home/$user:/bin/sh" >>"$work/passwd"
  grep -v "^$user:" /etc/group >"$work/group"
  echo "$user:x:$uid:" >>"$work/group"
  mount --bind "$work/passwd" "$root/etc/passwd"
  mount --bind "$work/group" "$root/etc/group"

  # Every other place is a volume of its own, as on a real system.
  local place
  for place in tmp root private/tmp System/Volumes/Data "home/$user" "Volumes/DRIVE" sandbox; do
    mkdir -p "$root/$place"
    mount -t tmpfs -o mode=0755 "sandbox-${place//\//-}" "$root/$place"
  done
  chmod 1777 "$root/tmp" "$root/private/tmp" "$root/sandbox"
  chmod 0700 "$root/root"
  chown "$uid:$uid" "$root/home/$user"

  mkdir -p "$root$repo"
  mount --rbind "$repo" "$root$repo"
  # Copies, not binds: the checkout may lie where only root may go, and what
  # the sandbox user runs must not depend on its folders' modes.
  mkdir -p "$root/usr/local/bin" "$root/usr/local/libexec"
  if [[ -n "$programs" ]]; then
    install -m 0755 "$programs/writer" "$programs/imager" "$root/usr/local/bin/"
  fi
  local utility=""
  if [[ -n "$programs" ]]; then
    utility=$(cat "$programs/disk-utility-path")
    install -D -m 0755 "$programs/diskutil" "$root$utility"
    install -D -m 0755 "$programs/diskutil" "$root/usr/local/libexec/sandbox/diskutil"
  fi
  install -m 0755 "$repo/tests/fake_diskutil" "$root/usr/local/libexec/fake_diskutil"

  make_devices "$root/dev" "$device"
  local device2=${SANDBOX_SECOND_DEVICE:-} disk2=""
  if [[ -n "$device2" ]]; then
    disk2=disk$(cat "/sys/class/block/${device2#/dev/}/diskseq")
    device_node "$root/dev/${device2#/dev/}" "$device2"
    device_node "$root/dev/sdy" "$device2"
  fi
  # The loop device itself and its backing file, so that a test can detach
  # and re-attach the drive as if it were unplugged and plugged in again.
  touch "$root/dev/loop-control" "$root/sandbox/drive.img"
  mount --bind /dev/loop-control "$root/dev/loop-control"
  mount --bind "$backing" "$root/sandbox/drive.img"
  make_sysfs "$root" "$device" "$device2"
  write_stand_in "$root"

  cd "$root"
  umask "$mask"
  local status=0
  chroot "$root" /usr/bin/env -i \
    PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8 \
    TERM="${TERM:-dumb}" \
    SANDBOX_DISK="disk$disk" SANDBOX_DEVICE="$device" SANDBOX_BACKING=/sandbox/drive.img \
    SANDBOX_SECTOR_SIZE="$SANDBOX_SECTOR_SIZE" \
    SANDBOX_DISK2="$disk2" SANDBOX_DEVICE2="$device2" SANDBOX_FAULT_DRIVE="$fault" \
    SANDBOX_USER="$user" SANDBOX_UID="$uid" SANDBOX_HOME="/home/$user" \
    SANDBOX_STATE=/sandbox/state.json SANDBOX_LOG=/sandbox/calls.log \
    SANDBOX_UTILITY="$utility" \
    "$@" || status=$?
  return "$status"
}

# A /dev with the basic nodes and the drive's node, a node of its own that a
# test may replace.
make_devices() {
  local dev=$1 device=$2
  mkdir -p "$dev"
  mount -t tmpfs -o mode=0755 sandbox-dev "$dev"
  local name
  for name in null zero full random urandom tty; do
    touch "$dev/$name"
    mount --bind "/dev/$name" "$dev/$name"
  done
  ln -s /proc/self/fd "$dev/fd"
  # Terminals of its own, for a person at the keyboard.
  mkdir "$dev/pts"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 sandbox-pts "$dev/pts"
  ln -s pts/ptmx "$dev/ptmx"
  device_node "$dev/${device#/dev/}" "$device"
}

# NODE DEVICE: a block node of DEVICE's number at NODE.
device_node() {
  local major minor
  read -r major minor < <(stat -L -c '%t %T' "$2")
  mknod -m 0660 "$1" b "$((16#$major))" "$((16#$minor))"
}

# The kernel's sysfs at /sandbox/kernel-sys, and at /sys a fabricated one
# that shows the drive as a USB stick (tests/fake_sysfs);
# /sandbox/refresh-sysfs makes it again, as after a re-attach.
make_sysfs() {
  local root=$1 device=$2 second=()
  [[ -z "$3" ]] || second=(--second "$3")
  mkdir -p "$root/sandbox/kernel-sys"
  mount --rbind /sys "$root/sandbox/kernel-sys"
  mount -t tmpfs -o mode=0755 sandbox-sys "$root/sys"
  local volumes
  volumes="$(mountpoint -d "$root/Volumes/DRIVE") $(mountpoint -d "$root") $(mountpoint -d "$root/usr")"
  # shellcheck disable=SC2086
  "$repo/tests/fake_sysfs" "${second[@]}" "$root/sandbox/kernel-sys" "$root/sys" "$device" $volumes
  printf '#!/bin/sh\nexec %q %s /sandbox/kernel-sys /sys %q %s\n' \
    "$repo/tests/fake_sysfs" "${second[*]}" "$device" "$volumes" >"$root/sandbox/refresh-sysfs"
  chmod 0755 "$root/sandbox/refresh-sysfs"
  device_node "$root/dev/sdz" "$device"
  # The stick's partition node, as a user may name it; it is the volume's.
  local major minor
  IFS=: read -r major minor < <(mountpoint -d "$root/Volumes/DRIVE")
  mknod -m 0660 "$root/dev/sdz1" b "$major" "$minor"
}

# The misbehaving stand-in (tests/fake_diskutil), for a test to mount over
# the utility's path (/sandbox/use-stand-in); it runs the real utility for
# every command line its description does not fault.
write_stand_in() {
  local root=$1
  cat >"$root/sandbox/stand-in" <<'WRAPPER'
#!/bin/sh
exec python3 /usr/local/libexec/fake_diskutil --state /sandbox/state.json \
  --real /usr/local/libexec/sandbox/diskutil "$@"
WRAPPER
  cat >"$root/sandbox/use-stand-in" <<'SCRIPT'
#!/bin/sh
mountpoint -q "$SANDBOX_UTILITY" || mount --bind /sandbox/stand-in "$SANDBOX_UTILITY"
SCRIPT
  chmod 0755 "$root/sandbox/stand-in" "$root/sandbox/use-stand-in"
  echo '{"log": "/sandbox/calls.log"}' >"$root/sandbox/state.json"
}
