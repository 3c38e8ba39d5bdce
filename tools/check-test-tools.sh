#!/usr/bin/env bash
# Names every tool the tests call that is missing, with the Debian package that brings it, and
# fails at once: a missing tool would otherwise show up as a test failing for another reason.
set -uo pipefail

# tool package
tools='
cmake cmake
ctest cmake
clang clang
i686-w64-mingw32-g++-win32 g++-mingw-w64-i686-win32
i686-w64-mingw32-objdump binutils-mingw-w64-i686
g++ g++
qemu-i386-static qemu-user-static
wine wine
wineserver wine
wineboot wine
Xvfb xvfb
xvfb-run xvfb
xauth xauth
xdotool xdotool
xsetroot x11-xserver-utils
xprop x11-utils
xdpyinfo x11-utils
xrandr x11-xserver-utils
dbus-launch dbus-x11
xfwm4 xfwm4
caja caja
sway sway
swaymsg sway
swaybg swaybg
grim grim
Xwayland xwayland
xwininfo x11-utils
ps procps
import imagemagick
convert imagemagick
identify imagemagick
compare imagemagick
icotool icoutils
wrestool icoutils
exiftool libimage-exiftool-perl
python3 python3
perl perl
setpriv util-linux
unshare util-linux
mount mount
strace strace
cmp diffutils
dpkg-deb dpkg
dpkg-shlibdeps dpkg-dev
lintian lintian
desktop-file-validate desktop-file-utils
appstreamcli appstream
timeout coreutils
dbus-daemon dbus-daemon
gdbus libglib2.0-bin
gsettings libglib2.0-bin
mountpoint util-linux
/usr/libexec/xdg-desktop-portal xdg-desktop-portal
/usr/libexec/xdg-permission-store xdg-desktop-portal
/usr/libexec/xdg-desktop-portal-gnome xdg-desktop-portal-gnome
/usr/libexec/dconf-service dconf-service
dbus-launch dbus-x11
dbus-monitor dbus-bin
xfwm4 xfwm4
xfdesktop xfdesktop4
xfconf-query xfconf
pcmanfm pcmanfm
pcmanfm-qt pcmanfm-qt
caja caja
plasmashell plasma-workspace
/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd kactivitymanagerd
cinnamon cinnamon
cinnamon-session cinnamon-session
csd-background cinnamon-settings-daemon
nemo-desktop nemo
kwin_wayland kwin-wayland
'

missing=()
while read -r tool package; do
    [[ -n $tool ]] || continue
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool (package $package)")
done <<<"$tools"
# Wine's 32-bit side, which runs the Windows program and its tests.
[[ -x /usr/lib/wine/wine ]] || missing+=("Wine's 32-bit loader /usr/lib/wine/wine (package wine32:i386; tools/setup-wine32.sh)")
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "The tests need tools that are not installed:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
fi
echo "All tools the tests call are installed."
