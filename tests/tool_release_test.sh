#!/usr/bin/env bash
# The kit as authors get it: `cmake --install` of the build tree into a scratch prefix gives a
# tool that runs from any folder and finds the installer template installed with it, and a
# manual page that renders cleanly and names every command and option the tool has; the
# package (a .deb natively, a zip for Windows) holds the same files.
# Usage: tool_release_test.sh BUILD_DIR TEMPLATE [EMULATOR]
#   TEMPLATE: a template program built by the tests, installed in place of DravoPatch.exe when
#   the build tree ships none. With an emulator the tree is the Windows one (a flat layout).
#   A Windows tree whose programs this machine cannot run (32-bit ones where 32-bit code does
#   not run) is checked without running them: its install, manual page and zip.
set -u
# Absolute, because the installed tool is run from another folder.
build=$(cd "$1" && pwd)
test_template=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
emu=${3:-}
dravo=
. "$(dirname "${BASH_SOURCE[0]}")/tool_test_lib.sh"

prefix=$tmp/prefix
if [ -n "$emu" ]; then
  dravo=$prefix/dravo.exe
  installed_template=$prefix/DravoPatch.exe
  manual=$prefix/dravo.1
  shipped_template=$build/DravoPatch.exe
else
  dravo=$prefix/bin/dravo
  installed_template=$prefix/share/dravo/DravoPatch.exe
  manual=$prefix/share/man/man1/dravo.1.gz
  shipped_template=$(sed -n 's/^DRAVO_TEMPLATE_EXE:FILEPATH=//p' "$build/CMakeCache.txt")
fi
runs=1
if [ -n "$emu" ]; then
  . "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/windows-build.sh"
  if ! win_can_run "$build/dravo.exe"; then
    runs=0
    echo "this machine cannot run $build/dravo.exe ($WIN_32_PROBLEM): the install, the manual" \
      "page and the zip are checked without running the tool"
  fi
fi

# ---- the install ---------------------------------------------------------------------------
check install 0 cmake --install "$build" --prefix "$prefix" --strip
for f in "$dravo" "$manual"; do [ -f "$f" ] || fail_check "install: $f missing"; done
# Installed with --strip, the tool carries no symbols (unstripped it is some 40 MB).
if [ -z "$emu" ] && readelf -S "$dravo" 2>/dev/null | grep -q '\.symtab'; then fail_check "install: $dravo is not stripped"; fi
if [ -f "$shipped_template" ]; then
  same_file install-template "$shipped_template" "$installed_template"
else
  # The tool and its manual install without the template, and the install says so.
  [ ! -e "$installed_template" ] || fail_check "install: a template appeared from nowhere"
  expect_line install-without-template "$tmp/out" 'Not installing the installer template'
  mkdir -p "$(dirname "$installed_template")" && cp "$test_template" "$installed_template"
fi

# ---- the installed tool, run from elsewhere -----------------------------------------------
if [ "$runs" = 1 ]; then
  work=$tmp/elsewhere
  mkdir -p "$work"
  cd "$work" || exit 1
  check version 0 run --version && expect_line version "$tmp/out" '^dravo [0-9]+\.[0-9]+\.[0-9]+$'
  check help 0 run --help && expect_line help "$tmp/out" 'pack'
  printf '[work]\r\n' >patch.ini
  : >patch.dat
  check default-template 0 run pack build --out patch.exe patch.ini patch.dat &&
    check default-template-list 0 run pack list patch.exe &&
    expect_line default-template-list "$tmp/out" $'^patch\\.ini\t8$'

  if [ -z "$emu" ]; then
    # Started through a link in another folder, the tool still finds the files beside itself.
    ln -s "$dravo" "$work/linked-dravo"
    check through-link 0 "$work/linked-dravo" pack build --out linked.exe patch.ini patch.dat
  fi

  # Without a template the build fails, says where it looked, and writes nothing.
  mv "$installed_template" "$tmp/moved.exe"
  check no-template 1 run pack build --out none.exe patch.ini patch.dat &&
    expect_line no-template "$tmp/err" 'DravoPatch\.exe: no template given, and none at .*DravoPatch\.exe nor at .*share.dravo.DravoPatch\.exe; name the installer template with --template'
  [ ! -e none.exe ] || fail_check "no-template: wrote none.exe"
  check explicit-template 0 run pack build --template "$(winpath "$tmp/moved.exe")" --out given.exe patch.ini
  mv "$tmp/moved.exe" "$installed_template"
fi

# ---- the manual page -----------------------------------------------------------------------
# Rendered as plain text; any warning of groff's is a fault of the page.
case $manual in *.gz) gzip -dc "$manual" >"$tmp/manual.1" ;; *) cp "$manual" "$tmp/manual.1" ;; esac
if groff -man -Tascii -P-cbou -ww "$tmp/manual.1" >"$tmp/manual.txt" 2>"$tmp/groff.err"; then
  [ ! -s "$tmp/groff.err" ] || { fail_check "manual: groff warns"; cat "$tmp/groff.err"; }
else
  fail_check "manual: groff failed"; cat "$tmp/groff.err"
fi
grep -q '^EXIT STATUS' "$tmp/manual.txt" || fail_check "manual: no EXIT STATUS section"

# The subcommands and long options of a help text (CLI11's layout: entries indented under
# "Subcommands:" and "Options:").
subcommands() { tr -d '\r' | awk '/^[A-Za-z]+:/ { s = toupper($0) ~ /^SUBCOMMANDS:/; next } s && /^  [a-z]/ { print $1 }'; }
long_options() { tr -d '\r' | grep -Eo -- '--[a-z][a-z-]*' | grep -vx -- '--help' | sort -u; }
in_manual() {  # in_manual WHAT TEXT
  grep -qF -- "$2" "$tmp/manual.txt" || fail_check "manual: $1 \"$2\" is not described"
}
described() {  # described ARGS...: the subcommands of `dravo ARGS --help` and their options
  local sub option
  run "$@" --help >"$tmp/help" || fail_check "manual: dravo $* --help failed"
  long_options <"$tmp/help" >"$tmp/options.$#"
  subcommands <"$tmp/help" >"$tmp/subcommands.$#"
  while read -r option; do in_manual option "$option"; done <"$tmp/options.$#"
  while read -r sub; do
    in_manual command "dravo${*:+ $*} $sub"
    described "$@" "$sub"
  done <"$tmp/subcommands.$#"
}
if [ "$runs" = 1 ]; then
  run --help | subcommands | grep -q . || fail_check "manual: no subcommands read from dravo --help"
  described
fi

# ---- the package ---------------------------------------------------------------------------
packages=$tmp/packages
if [ -z "$emu" ]; then
  check deb 0 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$packages"
  deb=$(ls "$packages"/*.deb 2>/dev/null | head -1)
  if [ -n "$deb" ]; then
    dpkg-deb -c "$deb" | awk '{ print $NF }' >"$tmp/contents"
    wanted=(./usr/bin/dravo ./usr/share/man/man1/dravo.1.gz ./usr/share/doc/dravo/copyright
      ./usr/share/doc/dravo/changelog.gz)
    [ -f "$shipped_template" ] && wanted+=(./usr/share/dravo/DravoPatch.exe)
    for f in "${wanted[@]}"; do grep -qx -- "$f" "$tmp/contents" || fail_check "deb: no $f"; done
    dpkg-deb -f "$deb" Depends | grep -q 'libnettle' || fail_check "deb: does not depend on libnettle"
    # What Debian's own checker finds an error in (lintian comes with scripts/setup).
    if command -v lintian >/dev/null; then
      lintian --fail-on error "$deb" >"$tmp/lintian" 2>&1 || { fail_check "deb: lintian finds errors"; cat "$tmp/lintian"; }
    else
      echo "lintian is not installed (scripts/setup installs it): the package is not checked with it"
    fi
  else
    fail_check "deb: no package written"
  fi
else
  check zip 0 cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$packages"
  zip=$(ls "$packages"/*.zip 2>/dev/null | head -1)
  if [ -n "$zip" ]; then
    cmake -E tar tf "$zip" | sed 's|^[^/]*/||' >"$tmp/contents"
    for f in dravo.exe DravoPatch.exe README.md dravo.1 dravo.txt; do grep -qx -- "$f" "$tmp/contents" || fail_check "zip: no $f"; done
    # The zip is named for the kind of Windows its programs are built for.
    case $(win_pe_machine "$build/dravo.exe") in
      i386) kind=win32 ;;
      x86_64) kind=win64 ;;
      *) kind=unknown ;;
    esac
    case $zip in *-"$kind".zip) ;; *) fail_check "zip: $(basename "$zip") is not named for $kind programs" ;; esac
  else
    fail_check "zip: no package written"
  fi
fi

finish
