# Shared by tools/test and tools/bench: packages, the two builds and the Wine test environment.
# Sourced, not run.

UNINST_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
UNINST_BUILD=${UNINST_BUILD:-$UNINST_ROOT/build}

uninst_packages="cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-x86-64-dev
  mingw-w64-i686-dev libz-mingw-w64-dev googletest wine wine64 xvfb xauth
  clang libclang-rt-14-dev zlib1g-dev"

# Installs the Debian packages that are missing (nothing when all are there).
uninst_install_packages() {
    local missing=() p
    for p in $uninst_packages; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || return 1
}

# Configures (once) and builds one target: uninst_build i686|x86_64 [extra cmake options]
uninst_build() {
    local target=$1; shift
    local dir=$UNINST_BUILD/$target
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$UNINST_ROOT" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$UNINST_ROOT/cmake/toolchain-$target.cmake" "$@" >/dev/null || return 1
    fi
    echo "== building $target"
    cmake --build "$dir" || return 1
}

# Starts Xvfb on a free display and a persistent wineserver over a prefix private to the build.
# All three standard streams of the servers are detached, so that ctest never waits for them.
uninst_env_start() {
    export WINEPREFIX=$UNINST_BUILD/x86_64/wineprefix
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    local fdfile
    fdfile=$(mktemp)
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$fdfile" >/dev/null 2>&1 </dev/null &
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
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "== creating the Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
    fi
    (wineserver -p && wine wineboot -i) >/dev/null 2>&1 </dev/null
    # There is no window manager on the Xvfb display: windows left unmanaged are hidden at once
    # instead of after Wine's two-second wait for a manager's answer.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    UNINST_ENV_STARTED=1
}

# Stops exactly what uninst_env_start started.
uninst_env_stop() {
    [ -n "${UNINST_ENV_STARTED:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 </dev/null || true
    wineserver -w >/dev/null 2>&1 </dev/null || true
    if [ -n "${UNINST_XVFB_PID:-}" ]; then
        kill "$UNINST_XVFB_PID" 2>/dev/null || true
        wait "$UNINST_XVFB_PID" 2>/dev/null || true
    fi
    UNINST_ENV_STARTED=
}
