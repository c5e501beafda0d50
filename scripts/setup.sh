#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running need.
# Idempotent: asks apt only for what is missing, and refreshes the package lists only then.
set -euo pipefail

packages=(
  build-essential cmake
  qt6-base-dev qt6-serialport-dev qt6-serialbus-dev
  qt6-charts-dev libqt6opengl6-dev
  qt6-qpa-plugins qt6-translations-l10n
  libbenchmark-dev libmodbus-dev ser2net mbpoll
  fonts-dejavu-core poppler-utils
  dpkg-dev file desktop-file-utils lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo_cmd=(sudo)
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
