# The wine prefix of a test run, made once and unpacked for every user: a
# fresh prefix (wineboot) costs minutes in an emulated VM, an unpacked copy
# seconds. Sourced with `root` set; the stages' VMs share WINE_BASE writable.
#
# WINE_BASE holds prefix.tar and the wine version it was made with;
# scripts/test.sh empties it at the start of a run.
WINE_BASE=${GLEANOR_WINE_BASE:-$root/build/wine-base}

# base_prefix DEST: a new wine prefix in DEST (whatever was there is removed),
# unpacked from the run's base prefix, which is made first where there is none
# (or one of another wine version).
base_prefix() {
    local dest=$1 version
    version=$(wine --version 2>&1)
    rm -rf "$dest"
    mkdir -p "$dest"
    if [ -s "$WINE_BASE/prefix.tar" ] && [ "$(cat "$WINE_BASE/wine-version" 2>/dev/null)" = "$version" ]; then
        tar -xf "$WINE_BASE/prefix.tar" -C "$dest" --no-same-owner && return 0
        rm -rf "$dest"
        mkdir -p "$dest"
    fi
    # No mono or gecko installers: nothing here needs them.
    WINEPREFIX=$dest WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 </dev/null
    WINEPREFIX=$dest wineserver -w
    mkdir -p "$WINE_BASE" 2>/dev/null || return 0
    if tar -cf "$WINE_BASE/prefix.tar.new" -C "$dest" . 2>/dev/null; then
        mv "$WINE_BASE/prefix.tar.new" "$WINE_BASE/prefix.tar"
        echo "$version" >"$WINE_BASE/wine-version"
    else
        rm -f "$WINE_BASE/prefix.tar.new"
    fi
}
