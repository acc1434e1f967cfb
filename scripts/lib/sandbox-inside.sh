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
  mount --rbind /sys "$root/sys"
  mount -t proc proc "$root/proc"

  # The session user.
  grep -v "^$user:" /etc/passwd >"$work/passwd"
  echo "$user:x:$uid:$uid:Sandbox user:/home/$user:/bin/sh" >>"$work/passwd"
  grep -v "^$user:" /etc/group >"$work/group"
  echo "$user:x:$uid:" >>"$work/group"
  mount --bind "$work/passwd" "$root/etc/passwd"
  mount --bind "$work/group" "$root/etc/group"

  # Every other place is a volume of its own, so that the stand-in utility can
  # tell them apart.
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
  install -m 0755 "$repo/tests/fake_diskutil" "$root/usr/local/libexec/fake_diskutil"

  make_devices "$root/dev" "$device" "$disk"
  local device2=${SANDBOX_SECOND_DEVICE:-} disk2=""
  if [[ -n "$device2" ]]; then
    disk2=disk$((disk + 1))
    drive_nodes "$root/dev" "$device2" "$((disk + 1))"
    touch "$root$device2"
    mount --bind "$device2" "$root$device2"
  fi
  # The loop device itself and its backing file, so that a test can detach
  # and re-attach the drive as if it were unplugged and plugged in again.
  touch "$root/dev/loop-control" "$root$device" "$root/sandbox/drive.img"
  mount --bind /dev/loop-control "$root/dev/loop-control"
  mount --bind "$device" "$root$device"
  mount --bind "$backing" "$root/sandbox/drive.img"
  write_disk_utility "$root" "$device" "$disk" "$user" "$device2"

  cd "$root"
  umask "$mask"
  local status=0
  chroot "$root" /usr/bin/env -i \
    PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8 \
    TERM="${TERM:-dumb}" \
    SANDBOX_DISK="disk$disk" SANDBOX_DEVICE="$device" SANDBOX_BACKING=/sandbox/drive.img \
    SANDBOX_DISK2="$disk2" SANDBOX_DEVICE2="$device2" \
    SANDBOX_FAULT_DRIVE="$fault" \
    SANDBOX_USER="$user" SANDBOX_UID="$uid" SANDBOX_HOME="/home/$user" \
    SANDBOX_STATE=/sandbox/state.json SANDBOX_LOG=/sandbox/calls.log \
    "$@" || status=$?
  return "$status"
}

# A /dev with the basic nodes and the drive under its BSD names.
make_devices() {
  local dev=$1 device=$2 disk=$3
  mkdir -p "$dev"
  mount -t tmpfs -o mode=0755 sandbox-dev "$dev"
  local name
  for name in null zero full random urandom tty; do
    touch "$dev/$name"
    mount --bind "/dev/$name" "$dev/$name"
  done
  ln -s /proc/self/fd "$dev/fd"
  drive_nodes "$dev" "$device" "$disk"
}

# /dev/diskN and /dev/rdiskN for a loop device.
drive_nodes() {
  local dev=$1 device=$2 disk=$3 major minor
  read -r major minor < <(stat -L -c '%t %T' "$device")
  mknod -m 0640 "$dev/disk$disk" b "$((16#$major))" "$((16#$minor))"
  mknod -m 0640 "$dev/rdisk$disk" b "$((16#$major))" "$((16#$minor))"
}

# The stand-in disk utility at the utility's own path, and its description:
# an internal APFS system disk that holds every volume of the sandbox, and
# the loop device as an external USB drive with one volume of its own.
write_disk_utility() {
  local root=$1 device=$2 disk=$3 user=$4 device2=$5
  local size size2=0
  size=$(blockdev --getsize64 "$device")
  [[ -z "$device2" ]] || size2=$(blockdev --getsize64 "$device2")
  cat >"$root/usr/sbin/diskutil" <<WRAPPER
#!/bin/sh
exec python3 /usr/local/libexec/fake_diskutil --state /sandbox/state.json "\$@"
WRAPPER
  chmod 0755 "$root/usr/sbin/diskutil"
  DRIVE="disk$disk" SIZE="$size" SIZE2="$size2" HOME_DIR="/home/$user" REPO="$repo" python3 - \
    >"$root/sandbox/state.json" <<'PYTHON'
import json, os
drive, size = os.environ["DRIVE"], int(os.environ["SIZE"])
stores = [{"APFSPhysicalStore": "disk0s2"}]
def volume(name):
    return {"DeviceIdentifier": name, "WholeDisk": False, "ParentWholeDisk": "disk1",
            "VirtualOrPhysical": "Virtual", "APFSPhysicalStores": stores}
system_volumes = ["/", "/System/Volumes/Data", "/root", "/tmp", "/private/tmp", "/sandbox",
                  os.environ["HOME_DIR"], os.environ["REPO"]]
state = {
    "log": "/sandbox/calls.log",
    "disks": {
        "disk0": {"DeviceIdentifier": "disk0", "WholeDisk": True, "Internal": True,
                  "VirtualOrPhysical": "Physical", "Writable": True,
                  "TotalSize": 500107862016, "BusProtocol": "Apple Fabric",
                  "MediaName": "APPLE SSD AP0512Q"},
        "disk0s2": {"DeviceIdentifier": "disk0s2", "WholeDisk": False,
                    "ParentWholeDisk": "disk0", "VirtualOrPhysical": "Physical"},
        "disk1": {"DeviceIdentifier": "disk1", "WholeDisk": True, "Internal": True,
                  "VirtualOrPhysical": "Virtual", "Writable": True,
                  "TotalSize": 494384795648, "APFSPhysicalStores": stores},
        "disk1s1": volume("disk1s1"),
        "disk1s2": volume("disk1s2"),
        drive: {"DeviceIdentifier": drive, "WholeDisk": True, "Internal": False,
                "VirtualOrPhysical": "Physical", "Writable": True, "TotalSize": size,
                "BusProtocol": "USB", "MediaName": "Sandbox USB Drive"},
        drive + "s1": {"DeviceIdentifier": drive + "s1", "WholeDisk": False,
                       "ParentWholeDisk": drive, "VirtualOrPhysical": "Physical"},
    },
    "volumes": {**{path: "disk1s1" if path == "/" else "disk1s2" for path in system_volumes},
                "/Volumes/DRIVE": drive + "s1"},
    "wholeDisks": [drive],
}
size2 = int(os.environ["SIZE2"])
if size2:  # a second drive, the next number
    second = "disk%d" % (int(drive[4:]) + 1)
    state["disks"][second] = dict(state["disks"][drive], DeviceIdentifier=second,
                                  TotalSize=size2, MediaName="Sandbox USB Drive 2")
    state["wholeDisks"].append(second)
print(json.dumps(state, indent=2))
PYTHON
}
