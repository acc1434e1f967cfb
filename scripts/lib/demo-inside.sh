#!/usr/bin/env bash
# The demo's steps inside the sandbox: the user's image in their home, the
# drives the writer would accept, the write itself, and an independent check
# of what the drive holds.
set -euo pipefail
image=$SANDBOX_HOME/os.img.xz
drive=$SANDBOX_DEVICE

install -o "$SANDBOX_USER" -g "$SANDBOX_USER" -m 0644 "$1" "$image"
# The drive held something before, as drives do.
head -c $((128 * 1024 * 1024)) /dev/urandom >"$drive"

echo "Drives the writer would accept (imager list, as $SANDBOX_USER):"
runuser -u "$SANDBOX_USER" -- imager list
echo
imager write --yes --user "$SANDBOX_USER" "$image" "$SANDBOX_DISK"

echo
echo "== Checking the drive independently"
expanded=$(xz -dc "$image" | wc -c)
want=$(xz -dc "$image" | sha256sum | cut -d' ' -f1)
blockdev --flushbufs "$drive"
got=$(head -c "$expanded" "$drive" | sha256sum | cut -d' ' -f1)
echo "image:  $want ($expanded bytes expanded)"
echo "drive:  $got"
if [[ "$got" != "$want" ]]; then
  echo "The drive does not hold the image." >&2
  exit 1
fi
echo "The drive holds the image."
