#!/usr/bin/env bash
# The README's Quick start on a fresh machine: builds a bare Debian 12 root
# (debootstrap, variant minbase) holding only the build tools a fresh project
# machine has (build-essential cmake git make ninja-build), copies a clean
# clone of this repository's HEAD into it, and runs there, as root, the
# commands of the README's Quick start block, taken from README.md itself.
# Each command's exit status and time are printed; the script fails when one
# fails. Nothing of this machine's builds or caches goes in: the clone holds
# only committed files and the commands run with an empty environment.
#
# The mirror is the one this machine's apt sources name for bookworm, read
# now from /etc/apt/sources.list and /etc/apt/sources.list.d/ (one-line .list
# and deb822 .sources files); the root gets the same bookworm suites.
# Needs root and debootstrap.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
stage_start=$SECONDS

if [ "$(id -u)" != 0 ]; then
  echo "fresh-debian: needs root (debootstrap, chroot, mount)" >&2
  exit 1
fi
command -v debootstrap >/dev/null || {
  echo "fresh-debian: debootstrap is missing (packaging/install-packages.sh ci)" >&2
  exit 1
}

# The Quick start commands: the lines of the sh block after the marker.
mapfile -t commands < <(awk '
  /<!-- quick-start/ { marked = 1; next }
  marked && /^```/ { if (inside) exit; inside = 1; next }
  inside && NF { print }' README.md)
if [ ${#commands[@]} = 0 ]; then
  echo "fresh-debian: no Quick start commands found in README.md (<!-- quick-start --> block)" >&2
  exit 1
fi

# "URI SUITE COMPONENT..." for every deb source of this machine.
apt_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$f" | awk '$1 == "deb" && NF >= 3 {
      line = $2; for (i = 3; i <= NF; i++) line = line " " $i; print line }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # deb822 stanzas; continuation lines (a leading blank) are skipped.
    awk '
      function flush(   t, u, s, nt, nu, ns, types, uris, suites) {
        if (enabled != "no") {
          nt = split(f["types"], types); nu = split(f["uris"], uris); ns = split(f["suites"], suites)
          for (t = 1; t <= nt; t++) if (types[t] == "deb")
            for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
              print uris[u], suites[s], f["components"]
        }
        delete f; enabled = ""
      }
      /^#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^[ \t]/ { next }
      {
        key = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
        gsub(/^[ \t]+|[ \t]+$/, "", value)
        if (key == "enabled") enabled = tolower(value); else f[key] = value
      }
      END { flush() }' "$f"
  done
}
mapfile -t sources < <(apt_sources | awk '$2 ~ /^bookworm(-updates|-security)?$/')
mirror=""
for s in "${sources[@]}"; do
  read -r uri suite _ <<<"$s"
  if [ "$suite" = bookworm ]; then
    mirror=$uri
    break
  fi
done
if [ -z "$mirror" ]; then
  echo "fresh-debian: no bookworm source in this machine's apt sources" >&2
  exit 1
fi
echo "mirror: $mirror"

root=$(mktemp -d "${TMPDIR:-/tmp}/tovrel-fresh.XXXXXX")
mounts=()
cleanup() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
  done
  # Only what was mounted here (proc, tmpfs): nothing of the host is below.
  if ! grep -q " $root/" /proc/mounts; then
    rm -rf "$root"
  else
    echo "fresh-debian: $root still has mounts; left in place" >&2
  fi
}
trap cleanup EXIT

step_start=$SECONDS
debootstrap --variant=minbase --include=build-essential,cmake,git,make,ninja-build \
  bookworm "$root" "$mirror" >"$root.log" 2>&1 || {
  tail -n 30 "$root.log" >&2
  rm -f "$root.log"
  exit 1
}
rm -f "$root.log"
echo "debootstrap: $((SECONDS - step_start)) s"

# The same bookworm suites as this machine, from the same mirrors.
printf 'deb %s\n' "${sources[@]}" >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

# What a booted machine has: /proc, shared memory and pseudo-terminals (a
# private instance: the root's /dev/ptmx opens the one in its dev/pts).
mount -t proc proc "$root/proc"
mounts+=("$root/proc")
mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
mounts+=("$root/dev/shm")
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
mounts+=("$root/dev/pts")

# A clean clone of the commit that is checked out here.
git clone -q --no-hardlinks "$repo" "$root/root/tovrel"
git -C "$root/root/tovrel" checkout -q --detach "$(git rev-parse HEAD)"
echo "clone: $(git rev-parse --short HEAD)"

failed=0
for command in "${commands[@]}"; do
  echo "== in the fresh root: $command"
  step_start=$SECONDS
  status=0
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "cd /root/tovrel && $command" || status=$?
  echo "== \"$command\": exit status $status, $((SECONDS - step_start)) s"
  [ "$status" = 0 ] || failed=1
done
echo "Fresh Debian 12 check took $((SECONDS - stage_start)) s"
exit "$failed"
