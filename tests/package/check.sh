#!/usr/bin/env bash
# The built .deb installed and used: into a throw-away root (dpkg -x), and
# under CI as root into the real system as well.
#   tests/package/check.sh PACKAGE.deb ROOT_DIR
set -euo pipefail
deb=${1:?usage: tests/package/check.sh PACKAGE.deb ROOT_DIR}
root=${2:?usage: tests/package/check.sh PACKAGE.deb ROOT_DIR}
version=$(dpkg-deb -f "$deb" Version)
fail() { echo "package: $*"; exit 1; }

contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/gleanor ./usr/share/man/man1/gleanor.1.gz ./usr/share/bash-completion/completions/gleanor \
         ./usr/share/doc/gleanor/examples/scratched.sim ./usr/share/doc/gleanor/examples/README.md; do
  grep -q " $f\$" <<<"$contents" || fail "$f is not in $deb"
done

# Checks one installation whose files live under PREFIX.
check_installed() {
  local prefix=$1 bin=$1/bin/gleanor out
  [ "$("$bin" --version)" = "gleanor $version" ] || fail "$bin --version does not print 'gleanor $version'"
  out=$(mktemp -d)
  "$bin" demo "$out/demo" >"$out/demo.log" 2>&1 || { cat "$out/demo.log"; fail "$bin demo failed"; }
  # The demo takes the installed examples, not the source tree's.
  grep -q "disc $prefix/share/doc/gleanor/examples/scratched.sim" "$out/demo.log" ||
    { cat "$out/demo.log"; fail "the demo did not use $prefix/share/doc/gleanor/examples"; }
  grep -q "are correct" "$out/demo.log" || { cat "$out/demo.log"; fail "the demo's check did not pass"; }
  local page=$prefix/share/man/man1/gleanor.1.gz
  man --warnings -l "$page" >"$out/man.txt" 2>"$out/man.err" || fail "man -l $page failed"
  [ ! -s "$out/man.err" ] || { cat "$out/man.err"; fail "man -l $page warned"; }
  grep -q "import --mapfile" "$out/man.txt" || fail "the rendered man page lacks import --mapfile"
  # Every command and every option that the installed program's help lists
  # is in the man page, and completion offers each option after its command.
  local comp=$prefix/share/bash-completion/completions/gleanor cmd opt words checked=0
  local commands
  commands=$("$bin" --help | sed -n '/^Commands:/,/^$/p' | awk '/^  [a-z]/ { print $1 }')
  [ -n "$commands" ] || fail "gleanor --help lists no commands"
  for cmd in $commands; do
    [ "$cmd" != help ] || continue  # its help is the summary of all commands
    grep -qE "^ +$cmd( |$)" "$out/man.txt" || fail "the man page lacks the command $cmd"
    words=$(bash -c 'source "$1"; COMP_WORDS=(gleanor "$2" -); COMP_CWORD=2; _gleanor; echo " ${COMPREPLY[*]} "' \
            _ "$comp" "$cmd")
    for opt in $("$bin" "$cmd" --help | grep -oE '^  (-[a-zA-Z], )?-[-a-z]+' | grep -oE -- '-[-a-z]+$'); do
      grep -qF -- "$opt" "$out/man.txt" || fail "the man page lacks $opt ($cmd)"
      [[ $words == *" $opt "* ]] || fail "bash completion does not offer $opt after $cmd"
      checked=$((checked + 1))
    done
  done
  for section in "EXIT STATUS" ENVIRONMENT GLEANOR_SIM_TRACE GLEANOR_ASPI_TRACE "sectors missing"; do
    grep -q "$section" "$out/man.txt" || fail "the man page lacks $section"
  done
  # Completion of a command and of an option of that command.
  words=$(bash -c 'source "$1"; COMP_WORDS=(gleanor ma); COMP_CWORD=1; _gleanor; echo "${COMPREPLY[*]}";
                   COMP_WORDS=(gleanor import --f); COMP_CWORD=2; _gleanor; echo "${COMPREPLY[*]}"' \
          _ "$comp")
  [ "$words" = $'mapfile\n--from' ] || fail "bash completion gave '$words'"
  rm -rf "$out"
  echo "package: $prefix/bin/gleanor $version: demo works; man page and completion agree with --help ($checked command options)"
}

rm -rf "$root"
dpkg -x "$deb" "$root"
check_installed "$root/usr"

if [ -n "${CI:-}" ] && [ "$(id -u)" -eq 0 ]; then
  dpkg -i "$deb" >/dev/null
  check_installed /usr
  dpkg -r gleanor >/dev/null
fi
