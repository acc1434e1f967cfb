#!/usr/bin/env python3
"""e2e_cases.py --build DIR [--untraced] CASE, run as root inside scripts/sandbox.

Each case plays the Imager (or runs the real imager) through the writer's whole
job against the sandbox's drive; then nothing may be left behind: no process,
no lock on the drive, no stray descriptor in the writer at its exit (held there
with ptrace, unless --untraced) nor beyond 0 to 2 in any disk utility run."""

import base64
import bz2
import contextlib
import ctypes
import fcntl
import functools
import gzip
import hashlib
import io
import json
import lzma
import os
import pty
import random
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import uuid
import zipfile
import zlib

MiB = 1 << 20
FILL = 0xA5
DRIVE, USER, HOME, DEVICE = (os.environ.get("SANDBOX_" + name, "")
                              for name in ("DISK", "USER", "HOME", "DEVICE"))
UID = int(os.environ.get("SANDBOX_UID", "0"))
CHANGED = "The selected drive changed, is protected or was disconnected. Select it again."
TIMED_OUT = "System query timed out or returned too much data."
LOCKED = "Cannot lock the drive. Close apps using it, reconnect it and retry."
TRACE = True  # hold the writer at its exit to see its descriptors
BUILD = ""  # where the programs were built
# 3 MiB and 2.5 KiB: whole 512-byte sectors, as an image must be, with a
# last 4096-byte block that needs padding.
IMAGE_BYTES = 3 * MiB + 2560


class CaseFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailed(message)


# ---- Images and the drive -------------------------------------------------

def raw_image(size, seed=7):
    # Random data, zeros and a text-like tail: every packer has something to do.
    rng = random.Random(seed)
    third = size // 3
    text = b"".join(b"file %08d of the image\n" % i for i in range(size // 24 + 1))
    return (rng.randbytes(third) + bytes(third) + text)[:size]


def user_file(name, data=b"", directory=None, owner=UID):
    """A file of the user's; `data` an int makes it sparse, that large."""
    path = os.path.join(directory or HOME, name)
    with open(path, "wb") as f:
        f.truncate(data) if isinstance(data, int) else f.write(data)
    os.chown(path, owner, owner)
    return path


def zipped(raw):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("os/", b"")  # a directory entry before the image
        archive.writestr("os/disk.img", raw)
    return buffer.getvalue()


PACKERS = {"raw": ("img", bytes), "gzip": ("img.gz", lambda raw: gzip.compress(raw, 6)),
           "xz": ("img.xz", lambda raw: lzma.compress(raw, preset=1)), "zip": ("zip", zipped)}


def pack(raw, form, directory=None):
    suffix, packer = PACKERS[form]
    return user_file("image." + suffix, packer(raw), directory)


def drive_size():
    with open(DEVICE, "rb") as f:
        return f.seek(0, os.SEEK_END)


def sector_size():
    return int(subprocess.check_output(["blockdev", "--getss", DEVICE]))


def diskseq():
    rdev = os.stat(DEVICE).st_rdev
    with open("/sys/dev/block/%d:%d/diskseq" % (os.major(rdev), os.minor(rdev))) as f:
        return int(f.read())


def target():
    return {"bsd": DRIVE, "name": "Sandbox USB Drive", "capacity": drive_size(),
            "registryID": diskseq(), "bus": "USB"}


def fill_drive():
    with open(DEVICE, "r+b") as f:
        f.write(bytes([FILL]) * drive_size())


def drive_bytes(length, device=DEVICE):
    subprocess.run(["blockdev", "--flushbufs", device], check=True)
    with open(device, "rb") as f:
        return f.read(length)


def check_drive(raw=b""):
    """The drive holds `raw` padded with zeros to a block, then the filling."""
    block = sector_size()
    padded = -(-len(raw) // block) * block
    held = drive_bytes(padded + MiB)
    check(held[:len(raw)] == raw, "the drive does not hold the image")
    check(held[len(raw):padded] == bytes(padded - len(raw)), "the last block is not zero-padded")
    check(held[padded:] == bytes([FILL]) * (len(held) - padded),
          "the drive changed beyond byte %d" % padded)


def inspection(source, raw):
    with open(source, "rb") as f:
        stored = f.read()
    return {"bytes": len(stored), "sha256": hashlib.sha256(stored).hexdigest(),
            "expanded": len(raw), "expandedSHA256": hashlib.sha256(raw).hexdigest()}


def exclusive(device=DEVICE):
    return os.open(device, os.O_RDONLY | os.O_EXCL | os.O_CLOEXEC)


def set_faults(faults):
    """Has the stand-in disk utility (tests/fake_diskutil) fault these command lines."""
    subprocess.run(["/sandbox/use-stand-in"], check=True)
    path = os.environ["SANDBOX_STATE"]
    with open(path) as f:
        state = json.load(f)
    state["faults"] = faults
    with open(path, "w") as f:
        json.dump(state, f)


# ---- The writer as a child process ---------------------------------------

LIBC = ctypes.CDLL(None, use_errno=True)
LIBC.ptrace.restype = ctypes.c_long
LIBC.ptrace.argtypes = (ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p)
PTRACE_TRACEME, PTRACE_CONT, PTRACE_SETOPTIONS = 0, 7, 0x4200
PTRACE_O_TRACEEXEC, PTRACE_O_TRACEEXIT, PTRACE_O_EXITKILL = 0x10, 0x40, 0x100000
PTRACE_EVENT_EXIT = 6


def ptrace(request, pid, data=0):
    if LIBC.ptrace(request, pid, None, data) == -1:
        error = ctypes.get_errno()
        raise OSError(error, "ptrace: " + os.strerror(error))


# SIGCHLD writes to the pipe of WAKER, so that a stop of the traced writer is
# served at once: until then the writer's main thread stands still.
WAKER, _wakes = os.pipe2(os.O_NONBLOCK | os.O_CLOEXEC)
signal.set_wakeup_fd(_wakes, warn_on_full_buffer=False)
signal.signal(signal.SIGCHLD, lambda *_: None)


class Writer:
    """The real writer and what it did. Traced, it stops once at its exit,
    after its last system call but before the kernel closes what it still
    holds: `at_exit` records those descriptors."""

    def __init__(self, request, setup=None):
        self.request, self.events = request, []
        self.out, self.err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        argument = base64.b64encode(json.dumps(request).encode()).decode()
        self.process = subprocess.Popen(
            [os.path.join(BUILD, "writer"), argument], stdin=subprocess.DEVNULL,
            stdout=self.out, stderr=self.err,
            preexec_fn=lambda: (setup and setup(), TRACE and ptrace(PTRACE_TRACEME, 0)))
        self.pid, self.status, self.at_exit, self.peak_mib = self.process.pid, None, None, None
        if TRACE:
            _, status = os.waitpid(self.pid, 0)  # held at the exec
            check(os.WIFSTOPPED(status), "the traced writer did not stop at its start")
            # An exec of its own (ThreadSanitizer may re-execute the program)
            # then stops as an event rather than with a SIGTRAP to pass on.
            ptrace(PTRACE_SETOPTIONS, self.pid,
                   PTRACE_O_TRACEEXEC | PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL)
            ptrace(PTRACE_CONT, self.pid)

    def poll(self):  # serves a traced writer's stops; True once it has ended
        with contextlib.suppress(BlockingIOError):
            os.read(WAKER, 4096)
        while self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == 0:
                return False
            if os.WIFSTOPPED(status):
                event = status >> 16
                if event == PTRACE_EVENT_EXIT:
                    self.at_exit = {}
                    for fd in os.listdir("/proc/%d/fd" % self.pid):
                        with contextlib.suppress(OSError):
                            self.at_exit[int(fd)] = os.readlink("/proc/%d/fd/%s" % (self.pid, fd))
                    # Its own high-water mark, not its parent's before the exec.
                    with open("/proc/%d/status" % self.pid) as f:
                        self.peak_mib = next(int(line.split()[1]) for line in f
                                             if line.startswith("VmHWM:")) / 1024
                # A stop for a signal passes the signal on; an event stop has none.
                ptrace(PTRACE_CONT, self.pid, 0 if event else os.WSTOPSIG(status))
            else:
                self.status = self.process.returncode = os.waitstatus_to_exitcode(status)
        return True

    def wait(self, timeout):
        """At the exit only 0 to 2 are open, and after success the channel,
        which the heartbeat still reads."""
        deadline = time.monotonic() + timeout
        while not self.poll():
            if time.monotonic() > deadline:
                self.process.kill()
                raise CaseFailed("the writer did not end within %d s" % timeout)
            select.select([WAKER], [], [], 0.1)
        self.out, self.err = [f.seek(0) or f.read() for f in (self.out, self.err)]
        if self.at_exit is None:
            check(not TRACE, "the writer's exit was not seen")
            return self
        extra = {fd: what for fd, what in self.at_exit.items() if fd > 2}
        channel = [fd for fd, what in extra.items() if what.startswith("socket:")]
        allowed = channel[:1] if self.status == 0 else []
        check(set(extra) == set(allowed) and all(fd in self.at_exit for fd in (0, 1, 2)),
              "descriptors at the writer's exit (status %s): %s" % (self.status, self.at_exit))
        return self

    def describe(self):
        return "status %s, events:\n%s" % (
            self.status, "\n".join(json.dumps(e) for e in self.events[-12:]))

    def expect_ending(self, stage, message):
        """`stage` None: the Imager could not be told, so no closing event."""
        check(self.status == (0 if stage == "complete" else 1), "exit status " + self.describe())
        check(self.out == b"" and self.err == b"", "writer printed %r %r" % (self.out, self.err))
        check(self.events and self.events[0] == {"stage": "connected", "completed": 0, "total": 0,
                                                  "message": self.request["nonce"]},
              "first event " + self.describe())
        last = self.events[-1]
        check((last["stage"] not in ("complete", "error", "cancelled")) if stage is None else
              (last["stage"] == stage and last.get("message") == message),
              "closing event, expected %s %r: %s" % (stage, message, self.describe()))


# ---- The Imager's side of a session ---------------------------------------

class Imager:
    """Listens as `listener_uid`, starts the writer with a request and
    follows its events, pinging every two seconds unless told not to."""

    def __init__(self, listener_uid=UID, name="s"):
        self.directory = "/private/tmp/ori-" + str(uuid.uuid4())
        os.mkdir(self.directory, 0o700)
        os.chown(self.directory, listener_uid, listener_uid)
        self.path = self.directory + "/" + name
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        # The writer sees the credentials the listener had when it listened.
        os.setegid(listener_uid)
        os.seteuid(listener_uid)
        try:
            self.server.bind(self.path)
            self.server.listen(1)
        finally:
            os.seteuid(0)
            os.setegid(0)

    def request(self, source, raw, **changes):
        return {"version": 1, "source": source, "inspection": inspection(source, raw),
                "target": target(), "uid": UID, "socket": self.path,
                "nonce": str(uuid.uuid4()).upper(), **changes}

    def run(self, request, ping=True, close_after=None, stop_reading=False, setup=None):
        """`close_after`: at that stage's first event, close the channel and
        stop listening. `stop_reading`: read nothing after the first event
        until the writer has ended, but keep the channel open and pinging."""
        writer = Writer(request, setup)
        events = writer.events
        self.server.settimeout(30)
        connection, _ = self.server.accept()
        deadline = time.monotonic() + 120
        next_ping = time.monotonic()
        pending = b""
        with connection:
            while time.monotonic() < deadline:
                if ping and time.monotonic() >= next_ping:
                    with contextlib.suppress(OSError):
                        connection.sendall(b"ping\n")
                    next_ping += 2
                # Having stopped, it reads again once the writer has ended.
                reading = writer.poll() or not (stop_reading and events)
                watched = [WAKER] + ([connection] if reading else [])
                ready, _, _ = select.select(watched, [], [], 0.1)
                if connection not in ready:
                    continue
                try:
                    data = connection.recv(65536)
                except ConnectionResetError:
                    data = b""  # the writer left with pings unread: the end all the same
                if not data:
                    break
                pending += data
                *lines, pending = pending.split(b"\n")
                events += [json.loads(line) for line in lines]
                if close_after and any(e["stage"] == close_after for e in events):
                    break
        writer.wait(120)
        self.server.close()
        return writer


def expect_nothing_left():
    """The stand-in disk utility logs the descriptors each run found open."""
    others = [p for p in os.listdir("/proc") if p.isdigit() and int(p) not in (1, os.getpid())]
    check(not others, "processes left behind: %s" % others)
    fd = exclusive()
    fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    os.close(fd)
    with contextlib.suppress(FileNotFoundError), open(os.environ["SANDBOX_LOG"]) as log:
        for call in map(json.loads, log):
            check(set(call["fds"]) <= {"0", "1", "2"},
                  "the disk utility inherited descriptors: %s" % call)


def check_events(session):
    events, inspected, block = session.events, session.request["inspection"], sector_size()
    expanded, stored = inspected["expanded"], inspected["bytes"]
    stages = [e["stage"] for e in events]
    collapsed = [s for i, s in enumerate(stages) if i == 0 or stages[i - 1] != s]
    check(collapsed == ["connected", "checking", "inspecting", "writing", "verifying", "complete"],
          "stage order %s" % collapsed)
    by = lambda stage: [e for e in events if e["stage"] == stage]

    checking = [(e["completed"], e["total"]) for e in by("checking")]
    steps = lambda total: [(min(i + MiB, total), total) for i in range(0, total, MiB)]
    check(checking == steps(stored) + [(stored, stored)] + steps(stored),
          "checking events %s" % checking[:8])

    inspecting = by("inspecting")
    check(inspecting[-1]["completed"] == expanded and all(e["total"] == expanded for e in inspecting),
          "inspecting events")
    writing = [e["completed"] for e in by("writing")]
    check(writing == sorted(writing) and all(w % block == 0 for w in writing)
          and writing[-1] == expanded // block * block, "writing events %s" % writing[-3:])
    verifying = [(e["completed"], e["total"]) for e in by("verifying")]
    check(verifying == steps(expanded), "verifying events %s" % verifying[-3:])
    check(events[-1] == {"stage": "complete", "completed": expanded, "total": expanded},
          "closing event " + session.describe())


# ---- The real imager --------------------------------------------------------

def imager(*arguments, user=None):
    command = (["runuser", "-u", user, "--"] if user else []) + ["imager", *arguments]
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=120, start_new_session=True)


IMAGER_STAGES = ["Measuring image", "Measuring expanded image", "Checking image (1 of 2)",
                 "Checking image (2 of 2)", "Inspecting image", "Writing", "Verifying"]
YES = ["write", "--yes", "--user", USER]


def case_imager():
    """The real imager as a person sees it: the drive table (JSON lines for
    programs), a refusal for want of administrator rights, the writer's message
    on failure, the question at a terminal, and named stages and a summary
    without control characters."""
    raw = raw_image(IMAGE_BYTES)
    source = pack(raw, "xz")
    fill_drive()
    listing = imager("list", user=USER)
    table = listing.stdout.splitlines()
    check(len(table) == 2 and table[0].split() == ["DISK", "SIZE", "BUS", "NAME"]
          and table[1].split() == [DRIVE, "%.1f" % (drive_size() / 1e6), "MB", "USB", "Sandbox",
                                   "USB", "Drive"]
          and table[0].index("BUS") == table[1].index("USB"), "imager list: %r %r" % (table, listing.stderr))
    listed = imager("list", "--json", user=USER).stdout
    check([json.loads(line) for line in listed.splitlines()] == [target()],
          "imager list --json: %r" % listed)
    inspected = imager("inspect", "--json", source, user=USER).stdout
    check(json.loads(inspected) == inspection(source, raw), "imager inspect: %r" % inspected)

    # No sudo to be had without a terminal, or none at all.
    run = imager("write", source, DRIVE, user=USER)
    check(run.returncode == 1 and run.stderr.splitlines()[1:] ==
          ["The writer needs administrator rights: run imager write with sudo."],
          "imager write as the user: %r" % run.stderr)
    open_on_drive_volume()
    run = imager(*YES, source, DRIVE)
    check(run.returncode == 4 and run.stderr.endswith("Failed: System query failed: %s\n"
                                                      % UNMOUNT_FAILED),
          "imager write, failing: %r" % run.stderr)
    HELD.pop().close()
    set_faults({UNMOUNT: {"exit": 1, "stderr": ""}})
    run = imager(*YES, source, DRIVE)
    check(run.stderr.endswith("Failed: The disk utility failed without giving a reason: reconnect "
                              "the drive and try again.\n"), "an empty reason: %r" % run.stderr)
    set_faults({})

    # At a terminal it asks before erasing, and redraws its progress in place.
    for reply, status, shown, last in ((b"n", 1, b"[y/N]", b"imager: Nothing was written."),
                                       (b"y", 0, b"\x1b[K", b"verified.")):
        terminal, keyboard = pty.openpty()
        process = subprocess.Popen(["imager", "write", "--user", USER, source, DRIVE],
                                   stdin=keyboard, stdout=keyboard, stderr=keyboard)
        os.close(keyboard)
        output = b""
        with contextlib.suppress(OSError):  # EIO once the imager has gone
            while data := os.read(terminal, 4096):
                output += data
                if output.endswith(b"Continue? [y/N] "):
                    os.write(terminal, reply + b"\n")
        os.close(terminal)
        ended = process.wait(60)
        check(ended == status and shown in output and output.rstrip().endswith(last),
              "%r: %d %r" % (reply, ended, output[-300:]))
        check_drive(b"" if status else raw)

    # By the kernel's name for it, as a Linux user knows the drive.
    run = imager(*YES, source, "sdz")
    check(run.returncode == 0 and run.stderr.startswith("/dev/sdz is %s.\n" % DRIVE),
          "imager write: %s %s" % (run.stdout[-500:], run.stderr))
    check(all(c == "\n" or " " <= c < "\x7f" for c in run.stdout), "control characters")
    *progress, summary = run.stdout.splitlines()
    stages = [line.split(":")[0] for line in progress]
    check([s for i, s in enumerate(stages) if i == 0 or stages[i - 1] != s] == IMAGER_STAGES,
          "imager stages: %s" % stages)
    pattern = (r"Wrote %.1f MB to %s \(Sandbox USB Drive\) in [0-9.]+ s; write \d+ MB/s, "
               r"verify \d+ MB/s; verified\.$" % (len(raw) / 1e6, DRIVE))
    check(re.match(pattern, summary), "summary: %r" % summary)
    check_drive(raw)


# ---- The imager's own refusals, interrupts and several drives -------------

def padded(data):
    """Padded to whole sectors, the writer would take `data` for a raw image."""
    return data + bytes(-len(data) % 512 or 512)


def expect_refusal(run, status, message, measured=False):
    """Refused before measuring started (or, `measured`, after it but before
    any writer stage), and the drive is as it was."""
    stages = [line.split(":")[0] for line in run.stdout.splitlines()]
    check(run.returncode == status and "imager: " + message in run.stderr.splitlines(),
          "expected %d %r, got %d %r" % (status, message, run.returncode, run.stderr))
    check(("Measuring image" in stages) == measured and "Checking image (1 of 2)" not in stages,
          "stages seen: %s" % stages)
    check_drive()


RAW = raw_image(MiB)
# Each packing the writer does not decode, by its first bytes; the three that
# Python makes are the real thing, the rest their headers.
FORMATS = [
    ("image.img.zst", padded(b"\x28\xb5\x2f\xfd"), "is compressed with zstd, which this tool does not decode: run `zstd -d` on it first."),
    ("image.img.bz2", padded(bz2.compress(RAW)), "is compressed with bzip2, which this tool does not decode: run `bunzip2` on it first."),
    ("image.img.lz4", padded(b"\x04\x22\x4d\x18"), "is compressed with lz4, which this tool does not decode: run `lz4 -d` on it first."),
    ("image.7z", padded(b"7z\xbc\xaf\x27\x1c"), "is a 7z archive, which this tool does not decode: run `7z x` on it first."),
    ("image.rar", padded(b"Rar!\x1a\x07\x01\x00"), "is a rar archive, which this tool does not decode: run `unrar x` on it first."),
    ("image.img.lz", padded(b"LZIP\x01"), "is compressed with lzip, which this tool does not decode: run `lzip -d` on it first."),
    ("image.img.lzma", padded(lzma.compress(RAW, format=lzma.FORMAT_ALONE)), "is compressed with lzma, which this tool does not decode: run `unlzma` on it first."),
    ("image.img.Z", padded(b"\x1f\x9d\x90"), "is compressed with compress, which this tool does not decode: run `uncompress` on it first."),
    ("empty.img.gz", b"", "is empty: download it again."),
    ("empty.img.xz", b"", "is empty: download it again."),
    ("plain.img.gz", RAW, "is named like a gzip file but is not one: it is damaged or incomplete; download it again."),
    ("short.img", RAW[:1000], "is 1,000 bytes, not a whole number of 512-byte sectors: it is not a disk image, or it is incomplete."),
    # Only decoding shows these.
    ("cut.img.gz", gzip.compress(RAW)[:-600], "is a damaged or incomplete gzip file: download it again."),
    ("cut.img.xz", lzma.compress(RAW)[:-600], "is a damaged or incomplete xz file: download it again."),
    ("odd.img.gz", gzip.compress(RAW[:1000]), "expands to 1,000 bytes, not a whole number of 512-byte sectors: it is not a disk image, or it is incomplete."),
]


def case_image_formats():
    """What the writer cannot decode or would write wrongly is refused, with
    what it is and what to do, before any writer starts."""
    fill_drive()
    for name, data, message in FORMATS:
        path = user_file(name, data)
        expect_refusal(imager(*YES, path, DRIVE), 3, path + " " + message,
                       measured=name.startswith(("cut", "odd")))


def case_refusals():
    """Every refusal the imager can tell before writing ends before the image
    is measured (the digest's, after it), with its own status and message."""
    fill_drive()
    image = user_file("image.img", RAW)
    linked = user_file("linked.img", RAW)
    os.link(linked, linked + ".2")
    foreign = user_file("foreign.img", RAW, owner=0)
    fifo = os.path.join(HOME, "fifo.img")
    os.mkfifo(fifo)
    os.chmod("/Volumes/DRIVE", 0o777)
    on_drive = user_file("image.img", RAW, "/Volumes/DRIVE")
    large = user_file("large.img", drive_size() + 512)
    huge = user_file("huge.img", (128 << 30) + 512)
    checked = user_file("checked.img", RAW)
    user_file("checked.img.sha256", b"%s  checked.img\n" % (b"0" * 64))
    see = " Run `imager list` to see the drives that may be written."
    for arguments, status, message, measured in [
        (YES + [image, "disk9"], 4, "There is no drive disk9." + see, False),
        (YES + [image, DRIVE + "s1"], 4, "%ss1 is a partition of %s: name the whole drive, %s." % (DRIVE, DRIVE, DRIVE), False),
        (YES + [image, "sdz9"], 4, "sdz9 is not a drive's name: name it as `imager list` shows it, e.g. disk4.", False),
        (YES + [image, "/dev/sdz1"], 4, "/dev/sdz1 is a partition of %s: name the whole drive, %s." % (DRIVE, DRIVE), False),
        (YES + [image, "disk1"], 4, "disk1 is an internal disk, which is never written." + see, False),
        (YES + [on_drive, DRIVE], 4, DRIVE + " holds the image itself: copy the image to another disk first, or choose another drive.", False),
        (YES + [large, DRIVE], 4, "The image (%.1f MB) is larger than %s (%.1f MB): choose a larger drive." % ((drive_size() + 512) / 1e6, DRIVE, drive_size() / 1e6), False),
        (YES + [image, DRIVE, "/dev/r" + DRIVE], 2, DRIVE + " is named more than once: name each drive once.", False),
        (YES + [huge, DRIVE], 3, huge + " is 137.44 GB, more than the 128 GiB the writer accepts.", False),
        (YES + [HOME, DRIVE], 3, HOME + " is a folder: name the image file inside it.", False),
        (YES + [foreign, DRIVE], 3, foreign + " belongs to another user, which the writer does not accept: copy it first (`cp %s COPY`) and write the copy." % foreign, False),
        (YES + [linked, DRIVE], 3, linked + " has other hard links, which the writer does not accept: copy it first (`cp %s COPY`) and write the copy." % linked, False),
        (YES + [fifo, DRIVE], 3, fifo + " is a special file (a device, a pipe or a socket), not an image: name an image file.", False),
        (["write", "--user", USER, image, DRIVE], 2, "Nothing was written: there is no terminal to ask whether %s may be erased. Add --yes to write without asking." % DRIVE, False),
        (YES + ["--sha256", "ab" * 32, image, DRIVE], 3, image + " does not match its SHA-256 checksum: it is damaged or not the image meant. Download it again; nothing was written.", True),
        (YES + [checked, DRIVE], 3, checked + " does not match its SHA-256 checksum: it is damaged or not the image meant. Download it again; nothing was written.", True),
    ]:
        expect_refusal(imager(*arguments), status, message, measured)


def case_interrupts():
    """Ctrl-C while measuring, writing or verifying (on a slow drive) stops the
    job at once with status 130, says what the drive holds now, and leaves no
    writer behind."""
    source = pack(raw_image(12 * MiB), "raw")
    # 8 GiB of zeros in gzip members of 64 MiB each: slow to measure.
    large = user_file("large.img.gz", gzip.compress(bytes(64 * MiB), 1) * 128)
    partly = "Interrupted: %s was partly written and will not start until it is written again." % DRIVE
    for image, line, message in [
            (large, "Measuring expanded image", "imager: Interrupted while measuring the image: nothing was written."),
            (source, "Writing", partly), (source, "Verifying", partly)]:
        process = subprocess.Popen(["imager", *YES, image, DRIVE], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                   start_new_session=True)
        for output in process.stdout:
            if output.startswith(line):
                process.send_signal(signal.SIGINT)
                break
        _, err = process.communicate(timeout=60)
        check(process.returncode == 130 and err.splitlines()[-1] == message,
              "at %s: %d %r" % (line, process.returncode, err))
        expect_nothing_left()


def case_two_drives():
    """One image onto two drives at once, its checksum given: one line of
    progress and one summary per drive. A drive that fails (held by another
    program) does not stop the other, and the status says it failed."""
    raw = raw_image(IMAGE_BYTES)
    source = pack(raw, "xz")
    second, disk2 = os.environ["SANDBOX_DEVICE2"], os.environ["SANDBOX_DISK2"]
    fill_drive()
    held = exclusive(second)
    run = imager(*YES, source, DRIVE, disk2)
    os.close(held)
    check(run.returncode == 4 and run.stderr.splitlines()[-1] == "Failed on " + disk2 + ": " + LOCKED,
          "one drive held: %d %r" % (run.returncode, run.stderr))
    check_drive(raw)
    fill_drive()
    with open(source, "rb") as f:  # a right checksum lets the write go on
        digest = hashlib.sha256(f.read()).hexdigest()
    run = imager(*YES, "--sha256", digest, source, DRIVE, disk2)
    summaries = [line for line in run.stdout.splitlines() if line.startswith("Wrote")]
    check(run.returncode == 0 and len(summaries) == 2 and all(
        re.match(r"Wrote 3\.1 MB to %s \(Sandbox USB Drive%s\) in .*; verified\.$" % (disk, suffix), line)
        for disk, suffix, line in zip((DRIVE, disk2), ("", " 2"), summaries)),
        "two drives: %d %r %r" % (run.returncode, summaries, run.stderr))
    check_drive(raw)
    check(drive_bytes(len(raw), second) == raw, "the second drive does not hold the image")


def case_mounted_elsewhere():
    """The drive holds a file system mounted in another mount namespace, out
    of the disk utility's sight: the kernel refuses the exclusive open, the
    job ends with the lock message and nothing is written."""
    subprocess.run(["mkfs.ext4", "-q", "-F", DEVICE], check=True)
    before = drive_bytes(4 * MiB)
    holder = subprocess.Popen(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c",
         "mkdir -p /mnt/elsewhere && mount -o ro %s /mnt/elsewhere && echo mounted && "
         "exec sleep 120" % DEVICE], stdout=subprocess.PIPE, text=True)
    try:
        check(holder.stdout.readline() == "mounted\n", "could not mount the drive elsewhere")
        raw = raw_image(MiB)
        imager = Imager()
        imager.run(imager.request(pack(raw, "raw"), raw)).expect_ending("error", LOCKED)
    finally:
        holder.kill()
        holder.wait()
    check(drive_bytes(4 * MiB) == before, "the drive changed")
    # The namespace's mounts go with its last process, a moment later.
    for _ in range(100):
        with contextlib.suppress(OSError):
            return os.close(exclusive())
        time.sleep(0.05)


def case_linked_channel():
    """The request names, in a directory of the user's, a link to a socket
    only root could reach, or a link to the directory that holds it: the
    writer ends with status 1 and that listener sees no connection at all.
    A listener whose address is not the request's path receives no byte."""
    hidden = tempfile.mkdtemp(dir="/private/tmp")
    raw = raw_image(MiB)
    source = pack(raw, "raw")
    imager = Imager()

    def refused(path, what, timeout):
        writer = Writer(imager.request(source, raw, socket=path)).wait(timeout)
        check(writer.status == 1 and writer.out == writer.err == b"",
              "%s: status %s" % (what, writer.status))

    with socket.socket(socket.AF_UNIX) as listener:
        listener.bind(hidden + "/s")
        listener.listen(1)
        listener.setblocking(False)
        for linked in ("socket", "directory"):
            directory = "/private/tmp/ori-" + str(uuid.uuid4())
            if linked == "socket":
                os.mkdir(directory, 0o700)
                os.symlink(hidden + "/s", directory + "/s")
            else:
                os.symlink(hidden, directory)
            os.lchown(directory, UID, UID)
            refused(directory + "/s", "through a linked " + linked, 30)
            with contextlib.suppress(BlockingIOError):
                listener.accept()
                raise CaseFailed("the writer connected through a linked " + linked)
    # The user's own listener, bound under another name and renamed to the
    # request's: the writer may connect, but sends nothing.
    renamed = Imager(name="t")
    os.rename(renamed.path, renamed.directory + "/s")
    refused(renamed.directory + "/s", "a renamed listener", 60)
    renamed.server.setblocking(False)
    with contextlib.suppress(BlockingIOError):
        connection, _ = renamed.server.accept()
        with connection:
            check(connection.recv(4096) == b"", "the writer sent to a renamed listener")


# ---- How a session goes wrong ---------------------------------------------

def replug(_source):
    """The drive is unplugged and plugged in again after the user confirmed
    it: same name, same size, but another attachment."""
    sectors, before = str(sector_size()), diskseq()
    subprocess.run(["losetup", "-d", DEVICE], check=True)
    # udev may still hold the device for a moment after the detach.
    for _ in range(100):
        if subprocess.run(["losetup", "--sector-size", sectors, DEVICE,
                           os.environ["SANDBOX_BACKING"]]).returncode == 0:
            subprocess.run(["/sandbox/refresh-sysfs"], check=True)  # what udev would see
            return check(diskseq() != before, "the drive was re-attached as before")
        time.sleep(0.05)
    raise CaseFailed("could not re-attach the drive")


HELD = []


def open_on_drive_volume(_source=None):
    """Held open (in HELD), it keeps the drive's volume from being unmounted."""
    HELD.append(open("/Volumes/DRIVE/busy", "w"))


def touch(source):
    with open(source, "r+b") as f:
        f.seek(5)
        f.write(b"\x00" if f.read(1) != b"\x00" else b"\x01")


def careless_parent():
    """A parent that starts the writer with SIGCHLD ignored and SIGTERM
    blocked: the writer must still wait for its disk utility runs."""
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})


def armed_timers():
    """Interval timers that outlive the exec, each repeating: any of them
    left armed ends the writer with its signal."""
    for timer in (signal.ITIMER_REAL, signal.ITIMER_VIRTUAL, signal.ITIMER_PROF):
        signal.setitimer(timer, 0.2, 0.05)


OPENSSL_CONF = "openssl.cnf"


def plant_provider(_source):
    """A configuration of the user's that has libcrypto load the user's library
    as a provider; its constructor leaves a mark that must not be there."""
    library = os.path.join(HOME, "provider.so")
    subprocess.run(["install", "-o", USER, "-m", "0755",
                    os.path.join(BUILD, "constructor_mark.so"), library], check=True)
    user_file(OPENSSL_CONF, b"openssl_conf = init\n[init]\nproviders = providers\n[providers]\n"
              b"mark = mark\n[mark]\nmodule = %s\nactivate = 1\n" % library.encode())
    return lambda: check(not os.path.exists(library + ".loaded"),
                         "the writer loaded the user's library")


def xz_bomb():
    """Zeros packed with a small dictionary under a header that asks for 1.5 GiB."""
    packer, zeros = lzma.LZMACompressor(preset=0), bytes(16 * MiB)
    packed = bytearray(b"".join(packer.compress(zeros) for _ in range(32)) + packer.flush())
    end = 12 + (packed[12] + 1) * 4 - 4  # the block header and its CRC32
    check(packed[13:16] == b"\x00\x21\x01", "unexpected block header %r" % packed[12:end])
    packed[16] = 37  # dictionary (2 | 37 % 2) << (37 // 2 + 11) bytes
    packed[end:end + 4] = zlib.crc32(packed[12:end]).to_bytes(4, "little")
    return "image.img.xz", packed


def zip_lzma_bomb():
    """A zip entry packed with LZMA whose properties ask for a 3 GiB dictionary."""
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_LZMA) as archive:
        archive.writestr("disk.img", bytes(16 * MiB))
    packed = bytearray(buffer.getvalue())
    # The local header, its name and extra field, then the LZMA version and
    # properties' size, a byte of lc/lp/pb and the dictionary's size.
    at = 30 + int.from_bytes(packed[26:28], "little") + int.from_bytes(packed[28:30], "little") + 5
    packed[at:at + 4] = (3 << 30).to_bytes(4, "little")
    return "image.zip", packed


def events_a_channel_holds():
    """How many event lines a fresh channel takes before a send would block
    (the sender's buffer is the limit, counted per line)."""
    line = b'{"stage":"verifying","completed":67108864,"total":67108864}\n'
    count = 0
    ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_STREAM)
    with ours, theirs, contextlib.suppress(BlockingIOError):
        ours.setblocking(False)
        while ours.send(line):
            count += 1
    return count


LISTING, UNMOUNT = "list -plist external physical", "unmountDisk /dev/" + DRIVE
UNMOUNT_FAILED = "Unmount of %s failed: at least one volume could not be unmounted" % DRIVE
WRITE_FAILED = "Writing failed. Check the connection and free space."


# ---- The sessions: one row each -------------------------------------------

def run_row(stage, message=None, form="raw", size=IMAGE_BYTES, image=None, directory=None,
            faults=None, prepare=None, uid=UID, listener=None, reached=None, peak=False,
            **options):
    """One session ending in `stage` and `message` (stage None: undeliverable).
    `size` may be computed in the sandbox; `image` makes the file instead of
    `form`. `prepare` acts on the source after the request is made; what it
    returns is called after the session. `listener` owns the channel (`uid`
    by default); `reached` names the pass a fault drive cuts short; `peak`
    bounds the writer's memory; `options` go to Imager.run."""
    if faults:
        set_faults(faults)
    if directory:
        os.chmod(directory, 0o777)
    raw = raw_image(size() if callable(size) else size)
    check(stage or len(raw) <= drive_size(), "the drive is too small for the image")
    source = user_file(*image()) if image else pack(raw, form, directory)
    if not reached:  # a fault drive would refuse the filling
        fill_drive()
    imager = Imager(uid if listener is None else listener)
    request = imager.request(source, raw, uid=uid)
    after = prepare(source) if prepare else None
    session = imager.run(request, **options)
    if listener is not None:
        check(session.status == 1 and session.events == [
            {"stage": stage, "completed": 0, "total": 0, "message": message}],
            "a foreign listener: " + session.describe())
    else:
        if after:
            after()
        session.expect_ending(stage, message)
    if stage == "complete":
        check(not os.path.ismount("/Volumes/DRIVE"), "the drive's volume is still mounted")
        check_events(session)
        check_drive(raw)
    elif reached:
        mode, _, bound = os.environ["SANDBOX_FAULT_DRIVE"].partition("=")
        check(bound.endswith("M"), "the fault's bound is to be whole MiB: " + bound)
        reached_bytes = len(raw) if mode == "wrap" else int(bound[:-1]) * MiB
        progress = [e["completed"] for e in session.events if e["stage"] == reached]
        check(progress and progress[-1] == reached_bytes,
              "%s reached %s, expected %d" % (reached, progress[-1:], reached_bytes))
    elif stage:
        stages = [e["stage"] for e in session.events if e["stage"] not in ("checking", "inspecting")]
        check(stages == ["connected"] * (listener is None) + [stage],
              "stages before the end: " + session.describe())
        check_drive()
    if peak:
        check(session.peak_mib is not None and session.peak_mib < 256,
              "peak resident memory %s MiB" % session.peak_mib)


def row(*arguments, **options):
    return functools.partial(run_row, *arguments, **options)


CASES = {
    "imager": case_imager, "image-formats": case_image_formats, "refusals": case_refusals,
    "interrupts": case_interrupts, "two-drives": case_two_drives,
    "mounted-elsewhere": case_mounted_elsewhere, "linked-channel": case_linked_channel,
    **{"success." + form: row("complete", form=form) for form in PACKERS},
    # Refusals: the job ends before the drive is written.
    "unknown-user": row("error", "Unknown user.", uid=60999),
    # A channel whose listener is not the request's user is told so in its only line.
    "foreign-channel.user": row("error", "Invalid Imager channel owner.", listener=UID + 1),
    "foreign-channel.root": row("error", "Invalid Imager channel owner.", listener=0),
    "replaced-drive": row("error", CHANGED, prepare=replug),
    "source-changed": row("error", "The source changed after confirmation.", prepare=touch),
    "source-on-drive": row("error", CHANGED, directory="/Volumes/DRIVE"),
    "unmount-fails": row("error", "System query failed: " + UNMOUNT_FAILED + "\n",
                         prepare=open_on_drive_volume),
    "drive-held": row("error", LOCKED, prepare=lambda _: functools.partial(os.close, exclusive())),
    "drive-too-small": row("error", "The drive is too small or its geometry is unknown.",
                           size=lambda: drive_size() + 4096),
    # An image whose decoder would ask for gigabytes is refused in the inspection
    # pass, before it is decoded: the writer never grows anywhere near that.
    "xz-bomb": row("error", "The xz image needs a dictionary larger than 64 MiB.",
                   image=xz_bomb, size=MiB, peak=True),
    "zip-lzma-bomb": row("error", "The zip image's entries must be stored or deflated.",
                         image=zip_lzma_bomb, size=MiB, peak=True),
    # The unmount takes long enough for the lease to run out; the job notices
    # at its next check.
    "heartbeat-silence": row("cancelled", "Operation cancelled.", ping=False,
                             faults={UNMOUNT: {"delay": 11}}),
    # A disk utility that misbehaves while the disks are listed; one that
    # ignores SIGTERM is killed after the time limit.
    "utility.hangs": row("error", TIMED_OUT, faults={LISTING: {"ignore-term": True}}),
    "utility.floods": row("error", TIMED_OUT, faults={LISTING: {"flood": True}}),
    "utility.lists-129-disks": row("error", "Invalid external drive inventory.", faults={
        LISTING: {"print": {"WholeDisks": [DRIVE] + ["disk%d" % n for n in range(100, 228)]}}}),
    "inherited-signals": row("complete", setup=careless_parent),
    # A starter's environment, timers and working directory change nothing.
    "inherited-environment": row("complete", prepare=plant_provider, setup=lambda:
                                 os.environ.update(OPENSSL_CONF=os.path.join(HOME, OPENSSL_CONF))),
    "inherited-timers": row("complete", setup=armed_timers),
    "working-directory-on-drive": row("complete", setup=lambda: os.chdir("/Volumes/DRIVE")),
    # An Imager that stops listening once the writing begins, or pings but reads
    # nothing after the first event: once the socket buffer is full, an event
    # cannot be sent within 3 s, which ends the job. A raw image sends five
    # events per MiB (two re-hashes, the inspection, the write and the
    # read-back): a quarter more than the buffer holds.
    "imager-gone": row(None, size=3 * MiB, close_after="writing"),
    "imager-stops-reading": row(None, stop_reading=True,
                                size=lambda: (events_a_channel_holds() // 4 + 1) * MiB),
    # Failing hardware (the sandbox's --fault-drive): the pass goes as far as
    # the drive lets it, and not a chunk further. A counterfeit's wrapped
    # data reads back whole but wrong, which only a read-back from the medium
    # rather than from a cache can see.
    "drive.write-fails": row("error", WRITE_FAILED, size=12 * MiB, reached="writing"),
    "drive.read-back-fails": row("error", "USB read-back failed.", size=12 * MiB,
                                 reached="verifying"),
    "drive.counterfeit": row("error", "USB verification failed. Do not use this drive to install.",
                             size=12 * MiB, reached="verifying"),
}


def main():
    global TRACE, BUILD
    arguments = sys.argv[1:]
    TRACE = "--untraced" not in arguments
    BUILD = os.path.abspath(arguments[arguments.index("--build") + 1])
    try:
        CASES[re.sub(r"\.(512|4096)$", "", arguments[-1])]()  # one row for both sector sizes
        expect_nothing_left()
    except CaseFailed as failure:
        sys.exit("FAILED: %s" % failure)
    print("passed: " + arguments[-1])


if __name__ == "__main__":
    main()
