#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into corpus/<target>/.

The seeds are committed; run this again only to change them. Every seed is
a small, well-formed example of what the target reads, so that the fuzzer
starts from the real formats instead of discovering them.
"""
import base64
import gzip
import io
import json
import lzma
import os
import plistlib
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def request():
    return {
        "version": 1,
        "source": "/Users/alice/Downloads/os.img.xz",
        "inspection": {"bytes": 4096, "expanded": 8192,
                       "sha256": "a" * 64, "expandedSHA256": "B" * 64},
        "target": {"bsd": "disk4", "name": "SanDisk Ultra",
                   "capacity": 32000000000, "registryID": 4294970000, "bus": "USB"},
        "uid": 501,
        "socket": "/private/tmp/ori-0123abcd-4567-89ab-cdef-0123456789ab/s",
        "nonce": "8D2A1F3C-1B2E-4F5A-9C7D-0E1F2A3B4C5D",
    }


def intake():
    # Mode byte "0": the argument text as is; "1": JSON to be encoded first.
    text = json.dumps(request(), separators=(",", ":")).encode()
    write("intake", "valid-base64", b"0" + base64.b64encode(text))
    write("intake", "valid-json", b"1" + text)
    named = request()
    named["target"]["name"] = "Cle\u0301 \\u00e9 \U0001F4BE"
    write("intake", "unicode-name-json", b"1" + json.dumps(named).encode())
    wide = request()
    wide["inspection"]["bytes"] = 2 ** 37
    wide["target"]["capacity"] = 2 ** 64 - 1
    wide["extra"] = [None, 1.5, {"a": []}]
    write("intake", "limits-json", b"1" + json.dumps(wide, indent=1).encode())
    padded = json.dumps(request())
    padded = padded[:1] + " " * (16384 - len(padded)) + padded[1:]
    write("intake", "largest-base64", b"0" + base64.b64encode(padded.encode()))
    write("intake", "not-base64", b"0%%%%")
    write("intake", "not-an-object-json", b"1[1,2]")


def disk(**changes):
    info = {
        "DeviceIdentifier": "disk4", "WholeDisk": True, "Internal": False,
        "VirtualOrPhysical": "Physical", "Writable": True,
        "TotalSize": 32000000000, "BusProtocol": "USB",
        "MediaName": "SanDisk Ultra",
    }
    info.update(changes)
    return info


def disk_info():
    write("disk_info", "usb-disk.xml", plistlib.dumps(disk()))
    write("disk_info", "sd-card.bplist",
          plistlib.dumps(disk(BusProtocol="Secure Digital", TotalSize=7.9e9,
                              MediaName="Cart\u00e3o SD"), fmt=plistlib.FMT_BINARY))
    apfs = {
        "DeviceIdentifier": "disk3s1", "WholeDisk": False, "ParentWholeDisk": "disk3",
        "APFSPhysicalStores": [{"APFSPhysicalStore": "disk0s2"},
                               {"APFSPhysicalStore": "disk1s2"}],
        "Lookups": {"disk0s2": {"ParentWholeDisk": "disk0"},
                    "disk1s2": {"ParentWholeDisk": "disk1"}},
    }
    write("disk_info", "apfs-volume.xml", plistlib.dumps(apfs))
    write("disk_info", "apfs-volume.bplist", plistlib.dumps(apfs, fmt=plistlib.FMT_BINARY))
    plain = {
        "DeviceIdentifier": "disk5s1", "WholeDisk": False, "ParentWholeDisk": "disk5",
        "Lookups": {"disk5": disk(DeviceIdentifier="disk5", Internal=True)},
    }
    write("disk_info", "plain-volume.xml", plistlib.dumps(plain))


def archive_reader():
    image = bytes(range(256)) * 16 + b"\0" * 4096
    write("archive_reader", "raw.img", image[:1024])
    write("archive_reader", "image.img.gz", gzip.compress(image, mtime=0))
    write("archive_reader", "image.img.xz", lzma.compress(image))
    for name, files in (("image.zip", ["image.img"]),
                        ("two-files.zip", ["image.img", "readme.txt"])):
        packed = io.BytesIO()
        with zipfile.ZipFile(packed, "w", zipfile.ZIP_DEFLATED) as archive:
            for member in files:
                info = zipfile.ZipInfo(member, date_time=(2024, 1, 1, 0, 0, 0))
                archive.writestr(info, image, zipfile.ZIP_DEFLATED)
        write("archive_reader", name, packed.getvalue())


def firing(seconds_quarters=0, data=None, end=False):
    """One heartbeat firing: a read of `data`, nothing, or the end of stream."""
    control = seconds_quarters << 2
    if data is None:
        return bytes([control | (2 if end else 1), 0])
    return bytes([control, len(data) - 1]) + data


def heartbeat():
    write("heartbeat", "pings",
          b"".join(firing(4, b"ping\n") for _ in range(5)) + firing(20))
    write("heartbeat", "split-ping", firing(4, b"pi") + firing(1, b"ng\nping\npi") + firing(1))
    write("heartbeat", "silence", firing(4, b"ping\n") + firing(40) + firing(3))
    write("heartbeat", "other-line", firing(1, b"ping\r\n") + firing(1, b"\n"))
    write("heartbeat", "end-of-stream", firing(1, b"ping\n") + firing(1, end=True))
    write("heartbeat", "flood", b"".join(firing(0, b"a" * 256) for _ in range(5)))


if __name__ == "__main__":
    intake()
    disk_info()
    archive_reader()
    heartbeat()
