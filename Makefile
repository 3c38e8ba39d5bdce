# Tarnwick: one command runs the program, one passes the tests, one makes the release files.
# They install what is missing (Debian packages; run as root or with sudo available).

SHELL := /bin/bash
JOBS ?= 2
PREFIX ?= /usr/local
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# What the build, the program and the tests need.
RUN_PACKAGES := cmake make g++ libgtest-dev libgmock-dev googletest qt6-base-dev fonts-liberation \
  qt6-webengine-dev qt6-declarative-dev libx11-dev libx11-xcb-dev libxrandr-dev libxres-dev pkg-config libglib2.0-dev zlib1g-dev \
  libxcb-shm0-dev
TEST_PACKAGES := $(RUN_PACKAGES) g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine64 \
  xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick icoutils libimage-exiftool-perl clang \
  libclang-rt-14-dev util-linux mount procps perl python3 diffutils coreutils strace libx11-dev \
  libxfixes-dev qemu-user-static dbus-daemon libglib2.0-bin xdg-desktop-portal xdg-desktop-portal-gnome \
  dconf-service dconf-gsettings-backend gsettings-desktop-schemas cinnamon-desktop-data \
  dbus-x11 dbus-bin xfwm4 xfdesktop4 xfconf pcmanfm pcmanfm-qt caja mate-desktop-common \
  plasma-desktop plasma-workspace kactivitymanagerd kwin-wayland qtwayland5 sway swaybg grim xwayland gnome-shell \
  python3-dbusmock cinnamon \
  dpkg-dev lintian desktop-file-utils appstream

# What the clean room needs on this machine: debootstrap makes the fresh roots, util-linux enters
# them; the plain X server, xdotool, ImageMagick and xprop play the person at the installed program.
CLEAN_ROOM_PACKAGES := debootstrap util-linux mount git xvfb xdotool imagemagick x11-utils

# What only the benchmark needs: Chromium, for its headless screenshot beside our Run.
BENCH_PACKAGES := $(RUN_PACKAGES) xvfb xdotool x11-utils python3 chromium

.PHONY: all run run-windows test test-linux test-windows test-sanitize fuzz-smoke bench \
        build-linux build-windows deps-run deps-test deps-bench deps-wine32 check-tools clean dist install \
        deps-clean-room clean-room

all: build-linux

# Installs the packages named in $(1) that are not installed yet.
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps-test:
	$(call install_missing,$(TEST_PACKAGES))

# Wine's 32-bit side, which runs the 32-bit Windows program (and qemu where the kernel cannot).
deps-wine32: deps-test
	$(SUDO) tools/setup-wine32.sh

# Every tool the tests call is there, or the run stops at once naming what is missing.
check-tools: deps-test deps-wine32
	tools/check-test-tools.sh

build-linux: deps-run
	cmake --preset linux >/dev/null
	cmake --build build/linux -j$(JOBS)

build-windows: deps-test deps-wine32
	cmake --preset windows >/dev/null
	cmake --build build/windows -j$(JOBS)

# The Linux program on the current display.
run: build-linux
	build/linux/tarnwick

# The 32-bit Windows program under Wine.
run-windows: build-windows
	cd build/windows && WINEDEBUG=-all wine tarnwick.exe

test-linux: check-tools
	cmake --preset linux >/dev/null
	cmake --build build/linux -j$(JOBS)
	ctest --test-dir build/linux --output-on-failure -j$(JOBS) -LE dist

test-windows: check-tools build-windows
	ctest --test-dir build/windows --output-on-failure -LE dist

test-sanitize: check-tools
	cmake --preset linux-sanitize -DTARNWICK_GUI=OFF >/dev/null
	cmake --build build/linux-sanitize -j$(JOBS)
	ctest --test-dir build/linux-sanitize --output-on-failure -j$(JOBS)

fuzz-smoke: check-tools
	fuzz/run.sh all 5

# Every test: Linux unit and end-to-end tests, the same core under ASan/UBSan, short fuzz runs,
# and the Windows program's unit and end-to-end tests under Wine.
test: test-linux test-sanitize fuzz-smoke test-windows

# The release files in dist/ (the Windows zip, the Debian package), each then checked as a person
# gets it: the tests labelled "dist". Builds only what they need. dpkg-shlibdeps (dpkg-dev, in
# TEST_PACKAGES) gives the package's dependencies; lintian, desktop-file-utils and appstream check
# the package, its menu entry and its metainfo.
dist: check-tools
	cmake --preset linux >/dev/null
	cmake --build build/linux -j$(JOBS) --target tarnwick_installed tarnwick_xprobe
	cmake --preset windows >/dev/null
	cmake --build build/windows -j$(JOBS) --target tarnwick_installed tarnwick_recorder tarnwick_wintool
	rm -rf dist
	cd build/linux && cpack
	cd build/windows && cpack
	ctest --test-dir build/linux --output-on-failure -L dist
	ctest --test-dir build/windows --output-on-failure -L dist

# The Linux program, its sample template, menu entry and icon under $(PREFIX) (DESTDIR honoured),
# without the package: sudo make install, or make install PREFIX=$HOME/.local.
install: deps-run
	cmake --preset linux >/dev/null
	cmake --build build/linux -j$(JOBS) --target tarnwick_installed
	cmake --install build/linux --prefix "$(PREFIX)" --strip

deps-clean-room:
	$(call install_missing,$(CLEAN_ROOM_PACKAGES))

# The committed tree on a fresh Debian 12: `make test` and `make dist` in a fresh root, then the
# package installed in a second fresh root and the installed program run (tools/clean-room.sh).
clean-room: deps-clean-room
	$(SUDO) tools/clean-room.sh

deps-bench:
	$(call install_missing,$(BENCH_PACKAGES))

bench: deps-bench build-linux
	bench/run.sh

clean:
	rm -rf build dist
