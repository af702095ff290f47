# Shared by tools/test, tools/bench and tools/demo: packages, the builds and the Wine environment.
# Sourced, not run.

UNINST_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
UNINST_BUILD=${UNINST_BUILD:-$UNINST_ROOT/build}

uninst_packages="cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-x86-64-dev
  mingw-w64-i686-dev libz-mingw-w64-dev googletest wine wine64 xvfb xauth fonts-wine imagemagick
  clang libclang-rt-14-dev zlib1g-dev clang-format-14"

uninst_sudo() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are missing (nothing when all are there).
uninst_install_packages() {
    local missing=() p
    for p in $uninst_packages; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    uninst_sudo apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive uninst_sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
}

# Whether this machine's kernel runs 32-bit x86 programs at all: a 93-byte program of that kind
# that only exits. Some virtual machines refuse them ("Exec format error") whatever is installed.
uninst_kernel_runs_32bit() {
    local probe
    probe=$(mktemp)
    printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
    chmod +x "$probe"
    local status=0
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return $status
}

# Makes the 32-bit Wine available when the machine can run it. Sets UNINST_WINE32 to 1 when the
# shipped 32-bit program can be tested, else explains loudly why not and leaves it empty.
uninst_prepare_wine32() {
    UNINST_WINE32=
    if ! uninst_kernel_runs_32bit; then
        uninst_warn "this machine's kernel does not run 32-bit programs (Exec format error): the 32-bit" \
            "Wine cannot work here, so the shipped i686 build's tests are built but NOT run"
        return 0
    fi
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
        echo "== installing the 32-bit Wine (wine32:i386)"
        uninst_sudo dpkg --add-architecture i386 || true
        # The i386 index of a mirror is sometimes briefly out of step with the amd64 one: the update
        # may fail and the install still work.
        uninst_sudo apt-get update -qq || echo "(apt-get update failed; trying the install all the same)"
        if ! DEBIAN_FRONTEND=noninteractive uninst_sudo apt-get install -y -qq --no-install-recommends wine32:i386; then
            uninst_warn "the 32-bit Wine (wine32:i386) could not be installed: the i686 tests are NOT run"
            return 0
        fi
    fi
    UNINST_WINE32=1
}

uninst_warn() {
    echo "" >&2
    echo "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!" >&2
    echo "!! $*" >&2
    echo "!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!!" >&2
    echo "" >&2
}

# Configures (once) and builds one target: uninst_build i686|x86_64 [extra cmake options]; with
# UNINST_BUILD_TARGETS set, only those build targets of it.
uninst_build() {
    local target=$1; shift
    local dir=$UNINST_BUILD/$target option
    local stale=
    for option in "$@"; do
        # An option the existing configuration does not have (-DNAME=VALUE) configures again.
        grep -qxF "${option#-D}" <(sed -E 's/:[A-Z]+=/=/' "$dir/CMakeCache.txt" 2>/dev/null) || stale=1
    done
    if [ ! -f "$dir/build.ninja" ] || [ -n "$stale" ]; then
        cmake -S "$UNINST_ROOT" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$UNINST_ROOT/cmake/toolchain-$target.cmake" "$@" >/dev/null || return 1
    fi
    echo "== building $target${UNINST_BUILD_TARGETS:+ ($UNINST_BUILD_TARGETS)}"
    # shellcheck disable=SC2086 # the target list splits into words
    cmake --build "$dir" ${UNINST_BUILD_TARGETS:+--target $UNINST_BUILD_TARGETS} || return 1
}

# What the prefix was made with: a prefix that a Wine without its 32-bit half made does not start once
# that half is installed (and the other way round), so a changed setup makes a new prefix.
uninst_wine_setup() {
    local wine32=no
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed" && wine32=yes
    echo "$(wine --version 2>/dev/null) wine32=$wine32"
}

# Starts Xvfb on a free display and a persistent wineserver over a prefix private to the build.
# All three standard streams of the servers are detached, so that ctest never waits for them.
uninst_env_start() {
    export WINEPREFIX=${UNINST_PREFIX:-$UNINST_BUILD/x86_64/wineprefix}
    export WINEDEBUG=-all
    # One run at a time in a prefix: the end of another run (a test run, a benchmark) ends the server
    # and every process of the prefix under this one's tests.
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    if ! flock -n 9; then
        echo "== another run uses the prefix $WINEPREFIX: waiting for it to end"
        flock 9
    fi
    # No Mono or Gecko.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fdfile" >/dev/null 2>&1 </dev/null 9>&- &
    UNINST_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    if [ ! -s "$fdfile" ]; then
        echo "Xvfb did not start" >&2
        rm -f "$fdfile"
        return 1
    fi
    export DISPLAY=":$(head -n 1 "$fdfile")"
    rm -f "$fdfile"
    local setup stamp=$WINEPREFIX/.uninst-wine-setup
    setup=$(uninst_wine_setup)
    if [ -f "$WINEPREFIX/system.reg" ] && [ "$(cat "$stamp" 2>/dev/null)" != "$setup" ]; then
        echo "== the Wine prefix was made by another Wine setup: making it afresh"
        wineserver -k >/dev/null 2>&1 </dev/null || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "== creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
    fi
    # The desktop process starts here, detached from every stream a test's output goes to.
    # A server already running over the prefix (left by a run that was ended) serves this run too.
    (wineserver -p || true; wine wineboot -i) >/dev/null 2>&1 </dev/null 9>&-
    echo "$setup" >"$stamp"
    # From now on no menu builder: it would copy the prefix's shortcuts into this machine's own menus
    # and icons. (Set after the start: the desktop process does not start without it.)
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    uninst_seal_prefix
    # Wine as packaged here does not find its own TrueType fonts (fonts-wine) for the caption buttons
    # (Marlett): without a copy in the prefix a close box shows an "r".
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        cp -n /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    fi
    # There is no window manager on the Xvfb display: windows left unmanaged are hidden at once
    # instead of after Wine's two-second wait for a manager's answer.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    UNINST_ENV_STARTED=1
}

# The prefix keeps to itself, so that a test that goes wrong can only harm the build tree that holds
# it: its user folders (Desktop, Documents, ...) are real folders inside it instead of links into this
# machine's home, no drive maps this machine's root, and the build tree is drive U: (the test programs
# run from there). Wine's own updates of the prefix, which would make the links again, are switched off.
uninst_seal_prefix() {
    local entry
    for entry in "$WINEPREFIX"/drive_c/users/*/*; do
        if [ -L "$entry" ]; then
            rm -f "$entry"
            mkdir -p "$entry"
        fi
    done
    rm -f "$WINEPREFIX/dosdevices/z:"
    ln -sfn "$UNINST_BUILD" "$WINEPREFIX/dosdevices/u:"
    echo disable >"$WINEPREFIX/.update-timestamp"
}

# Every Wine process of this machine (a loader or server) that runs in the prefix (its environment
# names it), by process id.
# A process whose first thread has ended while another waits (seen in Wine) is read through a thread
# that lives.
uninst_prefix_processes() {
    local pid task
    for pid in /proc/[0-9]*; do
        for task in "$pid" "$pid"/task/*; do
            case "$(readlink "$task/exe" 2>/dev/null)" in
            */wine*)
                tr '\0' '\n' <"$task/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "${pid#/proc/}"
                break
                ;;
            esac
        done
    done
}

# Stops exactly what uninst_env_start started, and every process left in the prefix: one whose
# server has gone is not reached by "wineserver -k".
uninst_env_stop() {
    [ -n "${UNINST_ENV_STARTED:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 </dev/null || true
    wineserver -w >/dev/null 2>&1 </dev/null || true
    local left
    left=$(uninst_prefix_processes)
    if [ -n "$left" ]; then
        echo "== ending what was left in the prefix: $(echo $left | wc -w) processes"
        # shellcheck disable=SC2086 # one id per word
        kill -9 $left 2>/dev/null || true
    fi
    exec 9>&-
    if [ -n "${UNINST_XVFB_PID:-}" ]; then
        kill "$UNINST_XVFB_PID" 2>/dev/null || true
        wait "$UNINST_XVFB_PID" 2>/dev/null || true
    fi
    UNINST_ENV_STARTED=
}

# The checks that need no build: formatting and the direction of includes.
uninst_check_sources() {
    local files status=0
    files=$(cd "$UNINST_ROOT" && git ls-files '*.cpp' '*.h')
    if ! (cd "$UNINST_ROOT" && clang-format-14 --dry-run --Werror $files); then
        echo "== formatting: the files above do not match .clang-format (run clang-format-14 -i on them)" >&2
        status=1
    else
        echo "== formatting: every file matches .clang-format"
    fi
    "$UNINST_ROOT/tools/check-layers" || status=1
    return $status
}
