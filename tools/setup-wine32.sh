#!/usr/bin/env bash
# Wine's 32-bit side, which runs the 32-bit Windows program and its tests. Idempotent.
# Where the kernel cannot run 32-bit x86 Linux programs itself, qemu-i386-static is registered
# with binfmt_misc first: the i386 packages run i386 programs while they install, and Wine's
# 32-bit side starts under the emulator only through its preloader.
set -euo pipefail
SUDO=""
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed'; }

if installed wine32:i386 && installed wine32-preloader:i386 && [ -x /usr/lib/wine/wine ] &&
   /usr/lib/wine/wine --version >/dev/null 2>&1 ; then
  exit 0
fi

# Can this kernel run a 32-bit x86 program? A tiny static one answers.
probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
cat >"$probe_dir/p.c" <<'C'
void _start(void) { __asm__ volatile("movl $1, %%eax; xorl %%ebx, %%ebx; int $0x80" ::: "eax", "ebx"); }
C
gcc -m32 -nostdlib -static -O2 -o "$probe_dir/p" "$probe_dir/p.c"

if ! "$probe_dir/p" 2>/dev/null; then
  installed qemu-user-static || { $SUDO apt-get update -qq; $SUDO apt-get install -y -qq --no-install-recommends qemu-user-static; }
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    $SUDO mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/tarnwick-i386 ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    # 32-bit x86 ELF executables and shared objects; F: the interpreter is opened now, so it
    # works inside chroots and for setuid-less exec of any path.
    printf '%s' ':tarnwick-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
      $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
  "$probe_dir/p" || { echo "setup-wine32: 32-bit x86 programs still cannot run" >&2; exit 1; }
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends wine32:i386 wine32-preloader:i386
