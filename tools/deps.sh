#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when any is missing, and the npm
# packages that package.json locks.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format clang-tidy libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev
          # libFuzzer and the sanitizers' runtime for clang
          libclang-rt-14-dev
          # the virtual desktop, the GTK test application, the demo's screenshots, and the key
          # presses and window activations of the desktop tests
          xvfb openbox dbus at-spi2-core x11-utils python3-gi gir1.2-gtk-3.0 gir1.2-atspi-2.0
          imagemagick xdotool
          # xmodmap, to change the key map under gripwell
          x11-xserver-utils
          # a terminal (VTE) for scribbet's fast paste
          xfce4-terminal)
# The Linux desktop platform: AT-SPI, Xlib, XTest and XInput2, found through pkg-config (atspi-2's
# pkg-config file names XInput too); on a Wayland session the kernel's input devices through
# libevdev, the default keymap's modifier keys through xkbcommon, and the compositor through
# libwayland-client (wayland-scanner is in libwayland-dev).
packages+=(pkg-config libatspi2.0-dev libx11-dev libxtst-dev libxi-dev libevdev-dev libxkbcommon-dev
           libwayland-dev)
# The headless compositors of the Wayland desktop tests, with Xwayland (and xhost, in
# x11-xserver-utils above) for their X windows.
packages+=(sway xwayland)
# Installed without their recommendations, which would pull in hundreds of packages: mutter (much
# of GNOME otherwise), and the real applications of the `apps` tests.
lean_packages=(mutter)
lean_packages+=(mousepad featherpad kwrite libreoffice-writer libreoffice-gtk3 firefox-esr chromium
                xfce4-terminal xterm)
# The manual-page lint, the Debian package's dependencies (dpkg-shlibdeps), and the host
# examples' tests: the clipboard for fast paste, keys for gripwell.
packages+=(mandoc dpkg-dev xclip xdotool)
# Node and npm for the TypeScript example and the workflow validator (npm ci). A Node from
# elsewhere (nodesource, nvm) is used as it is.
if ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
lean_missing=()
for package in "${lean_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    lean_missing+=("$package")
done
if [ $((${#missing[@]} + ${#lean_missing[@]})) -gt 0 ]; then
  echo "installing: ${missing[*]} ${lean_missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  if [ ${#lean_missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
      "${lean_missing[@]}" >/dev/null
  fi
fi
# The npm packages that package.json locks: the TypeScript compiler for the Node host example and
# the GitHub workflow validator.
(cd "$(dirname "$0")/.." && npm ci --no-audit --no-fund --loglevel=error)
