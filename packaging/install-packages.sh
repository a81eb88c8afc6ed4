#!/usr/bin/env bash
# Installs what this machine lacks of the Debian packages of the named groups
# of packaging/apt-packages.txt:
#
#   packaging/install-packages.sh GROUP...     (build, test, interop, ci)
#
# Only packages that dpkg-query does not report as installed are installed,
# so a machine that has them all pays one dpkg-query. apt-get runs directly
# as root and through sudo otherwise; where neither works the script names
# the packages to install and fails. When the package `locales` is wanted,
# the decimal-comma locale de_DE.UTF-8 that the locale tests use is made too
# if it is missing (where that fails, those tests are skipped, nothing else).
set -euo pipefail
cd "$(dirname "$0")/.."

list=packaging/apt-packages.txt
if [ $# = 0 ]; then
  echo "usage: $0 GROUP...   (groups of $list)" >&2
  exit 2
fi

wanted=()
for group in "$@"; do
  mapfile -t packages < <(sed -e 's/#.*//' "$list" |
    awk -v g="$group" '$1 == g { for (i = 2; i <= NF; i++) print $i }')
  if [ ${#packages[@]} = 0 ]; then
    echo "$0: no group \"$group\" in $list" >&2
    exit 2
  fi
  wanted+=("${packages[@]}")
done

# Installed packages, as dpkg knows them (an unknown name is simply absent).
declare -A installed=()
while read -r name status; do
  [ "$status" = installed ] && installed[$name]=1
done < <(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${wanted[@]}" 2>/dev/null || true)
missing=()
for p in "${wanted[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done

# Runs a command as root: directly, or through sudo.
can_be_root() { [ "$(id -u)" = 0 ] || command -v sudo >/dev/null; }
as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

if [ ${#missing[@]} -gt 0 ]; then
  if can_be_root; then
    echo "Installing the missing Debian packages: ${missing[*]}"
  fi
  if ! can_be_root ||
     ! as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq ||
     ! as_root env DEBIAN_FRONTEND=noninteractive \
       apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    echo "These Debian packages are missing and could not be installed (that needs root or sudo):" >&2
    echo "  ${missing[*]}" >&2
    echo "Install them as root, then run this again:" >&2
    echo "  apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi

# The decimal-comma locale of the locale tests.
if [[ " ${wanted[*]} " == *" locales "* ]] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "Making the locale de_DE.UTF-8"
  can_be_root && as_root sh -c "sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)$/\1/' /etc/locale.gen &&
    { grep -q '^de_DE\.UTF-8 UTF-8$' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen; } &&
    locale-gen >/dev/null" ||
    echo "The locale de_DE.UTF-8 could not be made; the locale tests will be skipped" >&2
fi
