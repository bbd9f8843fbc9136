# Shared by scripts/run and scripts/test: install what is missing, then build.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"

# Debian packages the build, the program and its tests need.
PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev xvfb xdotool x11-utils fonts-dejavu-core fonts-dejavu-extra fonts-liberation util-linux dpkg-dev file appstream desktop-file-utils librsvg2-bin lintian qt6-translations-l10n exfat-fuse exfatprogs inotify-tools samba smbnetfs strace pkg-config libxxhash-dev xxhash)

missing_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  echo "${missing[@]:-}"
}

install_missing() {
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: $missing"
    apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
  else
    echo "These Debian packages are missing: $missing" >&2
    echo "Install them with:  sudo apt-get install $missing" >&2
    exit 1
  fi
}

build() { # [target...]: everything when none is named
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DARCHIVON_WERROR=ON >/dev/null
  local targets=()
  [ "$#" -gt 0 ] && targets=(--target "$@")
  cmake --build "$BUILD" --parallel "$(nproc)" "${targets[@]}"
}
