#!/usr/bin/env bash
# Installs the Debian packages Velbrook needs when any is missing. Sourced by
# ./run and ./test; quick when everything is there.
set -euo pipefail

VELBROOK_PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config clang-format
  libgtest-dev libbenchmark-dev
  # libraries
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libcdio-dev libcdio-paranoia-dev libcddb2-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libvorbis-dev libogg-dev libsdl2-dev libudev-dev
  # programs the program runs
  lame
  # tools the tests use as independent readers and writers
  sox libsox-fmt-all vorbis-tools ffmpeg id3v2 libcdio-utils cd-paranoia python3-mutagen flac wavpack
  xvfb xauth
  # Qt's own texts (message-box buttons, key names) in the interface languages,
  # and a font with Chinese characters, so that those texts are measured and drawn
  qt6-translations-l10n fonts-wqy-microhei
  # checkers of what is installed: desktop entry, AppStream data, manual page
  desktop-file-utils appstream groff-base
)

velbrook_missing_packages() {
  local missing=() p status
  for p in "${VELBROOK_PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

velbrook_install_deps() {
  local missing
  missing=$(velbrook_missing_packages)
  [ -z "$missing" ] && return 0
  echo "Installing missing packages: $missing"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      sudo=(sudo -n)
    elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
      sudo=(sudo)
    else
      echo "error: these Debian packages are missing: $missing" >&2
      echo "Install them as root (apt-get install $missing), or run this again as root or with sudo rights." >&2
      return 1
    fi
  fi
  export DEBIAN_FRONTEND=noninteractive
  # shellcheck disable=SC2086
  if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends $missing; then
    "${sudo[@]}" apt-get update -q
    # shellcheck disable=SC2086
    "${sudo[@]}" apt-get install -y -q --no-install-recommends $missing
  fi
}
