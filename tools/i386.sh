# shellcheck shell=sh
# Sourced by ./dev: makes sure Wine's 32-bit loader can run here.
#
# Romgate.exe is a 32-bit program, so its tests and demo need Wine's i386
# loader. Some of our machines run a kernel with 32-bit emulation switched
# off, where no 32-bit code runs at all ("Exec format error"). There we run
# every i386 program under QEMU's user-mode emulator, registered with
# binfmt_misc. It must be QEMU 10 or later: older ones ignore
# MAP_FIXED_NOREPLACE and Wine cannot map its shared user data. Bookworm has
# only 7.2, so the emulator comes from bookworm-backports, fetched into the
# project's cache without touching the system's apt sources.

WINE_I386_LOADER=/usr/lib/wine/wine
I386_ENTRY=romgate-i386
I386_CACHE=$PWD/.cache/i386
I386_EMULATOR=$I386_CACHE/root/usr/bin/qemu-i386
# binfmt_misc's fields are separated by ":", so the kernel would refuse the
# emulator's path in a checkout whose path holds one. It is registered
# through this link instead, whose path has none; the kernel opens the
# emulator when it is registered (flag F), so the link is not needed after.
I386_LINK=/run/romgate/qemu-i386
BINFMT=/proc/sys/fs/binfmt_misc
# The ELF header of an i386 executable or shared object, as QEMU registers it.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Prints "native" or "emulated (qemu-i386 VERSION)" when Wine's i386 loader
# runs here as it must; fails otherwise. QEMU_VERSION makes whichever
# emulator the kernel picks say who it is, so a stale entry is seen too.
i386_mode() {
    answer=$(QEMU_VERSION=1 "$WINE_I386_LOADER" --version 2>/dev/null | head -n 1) ||
        return 1
    case $answer in
        wine-*) echo native ;;
        "qemu-i386 version "*)
            version=${answer#qemu-i386 version }
            version=${version%% *}
            [ "${version%%.*}" -ge 10 ] 2>/dev/null || return 1
            echo "emulated (qemu-i386 $version)" ;;
        *) return 1 ;;
    esac
}

# Fetches qemu-user from bookworm-backports into the cache, once.
i386_fetch_emulator() {
    [ -x "$I386_EMULATOR" ] && return 0
    apt_dir=$I386_CACHE/apt
    rm -rf "$I386_CACHE"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
    echo 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]' \
        'http://deb.debian.org/debian bookworm-backports main' \
        > "$apt_dir/sources.list"
    set -- -o Dir::Etc::sourcelist="$apt_dir/sources.list" \
        -o Dir::Etc::sourceparts=- -o Dir::State::lists="$apt_dir/lists" \
        -o Dir::Cache="$apt_dir" -o Dir::Cache::archives="$apt_dir/archives" \
        -o APT::Sandbox::User=root
    echo "Fetching qemu-user from bookworm-backports into $I386_CACHE"
    apt-get -qq "$@" update &&
        (cd "$apt_dir" && apt-get -qq "$@" download qemu-user/bookworm-backports) &&
        dpkg -x "$apt_dir"/qemu-user_*.deb "$I386_CACHE/root" &&
        [ -x "$I386_EMULATOR" ]
}

# Registers the emulator for i386 ELF files. F opens it now, so every
# process finds it whatever its file system view; P keeps argv[0], which
# Wine relies on. Registering anew puts our entry first: the kernel tries
# the newest entry first, so an older emulator's entry cannot win.
i386_register() {
    [ -e "$BINFMT/register" ] ||
        mount -t binfmt_misc binfmt_misc "$BINFMT" || return 1
    mkdir -p "${I386_LINK%/*}" && ln -sfn "$I386_EMULATOR" "$I386_LINK" ||
        return 1
    [ ! -e "$BINFMT/$I386_ENTRY" ] || echo -1 > "$BINFMT/$I386_ENTRY"
    printf ':%s:M::%s:%s:%s:FP\n' "$I386_ENTRY" "$I386_MAGIC" "$I386_MASK" \
        "$I386_LINK" > "$BINFMT/register" &&
        echo "Registered $I386_EMULATOR for i386 programs ($BINFMT/$I386_ENTRY, through $I386_LINK)"
}

# Stops the command: 32-bit programs cannot run here because of $1; $2 is
# what to do about it.
i386_fail() {
    echo "dev: this machine runs no 32-bit programs, and $1: $2, or boot" \
        "with ia32_emulation=on, and run ./dev again" >&2
    exit 1
}

# Leaves a machine that runs the i386 loader as it is; elsewhere sets up the
# emulator, or stops the command with the reason and the remedy.
# shellcheck disable=SC2034  # I386_MODE is for ./dev to print
ensure_i386() {
    I386_MODE=$(i386_mode) && return 0
    i386_fetch_emulator || i386_fail \
        "QEMU 10's i386 emulator could not be fetched into $I386_CACHE" \
        "make deb.debian.org's bookworm-backports reachable"
    i386_register || i386_fail \
        "the kernel refused to register the emulator ($BINFMT/register)" \
        "run ./dev as root on a kernel with binfmt_misc"
    I386_MODE=$(i386_mode) || i386_fail \
        "Wine's i386 loader does not run under $I386_EMULATOR either" \
        "remove $I386_CACHE so that it is fetched again"
}
