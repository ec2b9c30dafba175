# Driving DravoPatch.exe under Wine as a user would, for the end-to-end tests and the demo.
# Source it; it defines functions and uses these variables:
#   GUI_ROOT    the project's folder
#   GUI_TOOLS   folder with list_windows.exe and make_shortcut.exe (the Windows test helpers)
#   GUI_SHOTS   folder for screenshots
# The helpers and the installer come from one Windows build, 32-bit or 64-bit; each program
# runs under the Wine its PE header asks for, in a prefix of that kind.
# Every wait is bounded, and only the processes started here are ended. The functions work
# both in scripts that stop at the first failing command (set -euo pipefail) and in those that
# do not: a probe that finds nothing is an answer, not a failure.

gui_log() { echo "  [gui] $*"; }

WIN_ROOT=$GUI_ROOT
. "$GUI_ROOT/scripts/lib/windows-build.sh"

# A scratch Wine prefix: a copy of the project's clean one of the kind the helpers need (made
# by scripts/wine-run).
gui_new_prefix() {  # gui_new_prefix DIR
  local base
  base=$("$GUI_ROOT/scripts/wine-run" --prefix "$GUI_TOOLS/list_windows.exe") || return 1
  rm -rf "$1" && cp -a "$base" "$1"
}

# Makes a shortcut with Wine's own shell, then lets that prefix's Wine session end, so that the
# installer starts a session of its own on the display in use.
gui_make_shortcut() {  # gui_make_shortcut PREFIX LINK TARGET
  local rc=0
  gui_wine "$1" "$GUI_TOOLS/make_shortcut.exe" "$2" "$3" 'Dravo' >/dev/null 2>&1 || rc=$?
  WINEPREFIX=$1 wineserver -w 2>/dev/null || true
  return $rc
}

# GUI_WINE_LIKE, when set, names a program whose Wine runs PROGRAM: for Wine's own programs
# (uninstaller, reg), which have no file of their own to tell.
gui_wine() {  # gui_wine PREFIX PROGRAM ARGS...
  local prefix=$1 WIN_WINE WIN_ARCH WIN_PREFIX; shift
  win_wine_for "${GUI_WINE_LIKE:-$1}"
  WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=$WIN_ARCH WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" "$WIN_WINE" "$@"
}

# Starts Xvfb on a free display unless GUI_USE_DISPLAY is set and a display is there.
gui_start_display() {
  if [ -n "${GUI_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1; then
    GUI_XVFB_PID=
    return 0
  fi
  local n
  for n in $(seq 91 120); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    GUI_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do
      xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
      kill -0 "$GUI_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    kill "$GUI_XVFB_PID" 2>/dev/null || true
    wait "$GUI_XVFB_PID" 2>/dev/null || true
  done
  GUI_XVFB_PID=
  echo "cannot start Xvfb" >&2
  return 1
}

gui_stop_display() {
  if [ -n "${GUI_XVFB_PID:-}" ]; then
    kill "$GUI_XVFB_PID" 2>/dev/null || true
    wait "$GUI_XVFB_PID" 2>/dev/null || true
  fi
  GUI_XVFB_PID=
}

# Writes the session's windows (class, title, visibility, child texts) to stdout; nothing when
# the listing fails (the session may be ending). The listing is read whole before anyone
# filters it, so that a reader that stops early cannot fail the listing itself.
gui_windows() {
  local out
  out=$(gui_wine "$GUI_PREFIX" "$GUI_TOOLS/list_windows.exe" 2>/dev/null) || true
  [ -n "$out" ] && printf '%s\n' "$out" | tr -d '\r'
  return 0
}

# True when the session's windows show text matching REGEX (an extended regex).
gui_shows() {  # gui_shows REGEX
  local listing
  listing=$(gui_windows)
  grep -Eq "$1" <<<"$listing"
}

# Waits until a visible window or control shows TEXT (an extended regex), up to SECONDS.
gui_wait_text() {  # gui_wait_text REGEX SECONDS
  local i visible
  for i in $(seq 1 $(($2 * 2))); do
    visible=$(gui_windows | grep -A8 'visible=1' || true)
    grep -Eq "$1" <<<"$visible" && return 0
    kill -0 "$GUI_PID" 2>/dev/null || return 1
    sleep 0.5
  done
  return 1
}

# The X window of the confirmation dialog: a visible, unnamed window other than the root.
gui_dialog_xid() {
  local w g root windows
  root=$(xdotool getdisplaygeometry 2>/dev/null | tr ' ' 'x') || return 1
  windows=$(xdotool search --onlyvisible --name '^$' 2>/dev/null) || return 1
  for w in $windows; do
    g=$(xdotool getwindowgeometry "$w" 2>/dev/null | awk '/Geometry/ {print $2}') || continue
    if [ -n "$g" ] && [ "$g" != "$root" ]; then echo "$w"; return 0; fi
  done
  return 1
}

# The first visible X window whose name matches REGEX; nothing (and success) when there is none.
gui_xid_by_name() {  # gui_xid_by_name REGEX
  local found
  found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null) || return 0
  printf '%s\n' "$found" | head -1
}

# Gives the window the pointer and the focus, then presses KEY; presses again, a bounded
# number of times, while the window is still there.
gui_press() {  # gui_press XID KEY
  [ -n "$1" ] || return 0
  local n geometry X Y WIDTH HEIGHT SCREEN WINDOW
  for n in 1 2 3; do
    geometry=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || return 0
    X=0 Y=0 WIDTH=0 HEIGHT=0
    eval "$geometry"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) 2>/dev/null || true
    xdotool windowfocus "$1" 2>/dev/null || true
    xdotool key "$2" 2>/dev/null || true
    local i
    for i in $(seq 1 30); do
      xdotool getwindowgeometry "$1" >/dev/null 2>&1 || return 0
      sleep 0.1
    done
  done
}

gui_shot() {  # gui_shot NAME: waits briefly for the screen to settle, then saves NAME.png
  local f="$GUI_SHOTS/$1.png" prev= cur
  local i
  for i in 1 2 3 4 5 6; do
    import -window root "$f.tmp.png" 2>/dev/null || return 0
    cur=$(md5sum <"$f.tmp.png")
    [ "$cur" = "$prev" ] && break
    prev=$cur
    sleep 0.4
  done
  mv "$f.tmp.png" "$f" || return 0
  gui_log "screenshot $f"
}

# Runs the installer and acts as a user: ok, cancel. Sets GUI_STATUS (the exit status, or
# 124 when it had to be ended), GUI_FINAL (the caption of the final box, empty if none) and
# GUI_NOTICE (what the box "Dravo patch recovery" said at the start, empty if none shown; it
# is answered with OK).
# Waits up to 30 s for the installer (GUI_PID) to end, killing it after that, and sets
# GUI_STATUS to its exit status (124 when it had to be killed).
gui_wait_exit() {
  local i
  for i in $(seq 1 60); do
    kill -0 "$GUI_PID" 2>/dev/null || break
    sleep 0.5
  done
  if kill -0 "$GUI_PID" 2>/dev/null; then
    WINEPREFIX=$GUI_PREFIX wineserver -k 2>/dev/null || true
    wait "$GUI_PID" 2>/dev/null || true
    GUI_STATUS=124
  else
    GUI_STATUS=0
    wait "$GUI_PID" || GUI_STATUS=$?
  fi
  WINEPREFIX=$GUI_PREFIX wineserver -w 2>/dev/null || true
}

# GUI_ARGS, an array, holds the installer's arguments (none when unset).
# When GUI_WHILE_WORKING names a function, it is called once the dialog was answered with OK,
# while the installer works, with GUI_PID and GUI_PREFIX set; it must return in bounded time.
gui_run_installer() {  # gui_run_installer PREFIX EXE ACTION SHOT_PREFIX
  GUI_PREFIX=$1
  local exe=$2 action=$3 shots=$4
  GUI_FINAL= GUI_NOTICE=
  gui_wine "$GUI_PREFIX" "$exe" ${GUI_ARGS[@]+"${GUI_ARGS[@]}"} >/dev/null 2>&1 &
  GUI_PID=$!
  local ready='I am found game Dravo\.|title="Patch search error\."|title="Patch install error\."'
  if gui_wait_text "$ready"'|title="Dravo patch recovery"' 60 && gui_shows 'title="Dravo patch recovery"'; then
    GUI_NOTICE=$(gui_windows | grep -A4 'title="Dravo patch recovery"' | tr '\n' ' ')
    gui_shot "$shots-notice"
    gui_press "$(gui_xid_by_name '^Dravo patch recovery$')" Return
  fi
  if gui_wait_text "$ready" 60; then
    if gui_shows 'I am found game Dravo'; then
      gui_shot "$shots-dialog"
      local dlg
      dlg=$(gui_dialog_xid) || dlg=
      if [ "$action" = cancel ]; then
        gui_press "$dlg" Escape
      else
        gui_press "$dlg" Return
        if [ -n "${GUI_WHILE_WORKING:-}" ]; then "$GUI_WHILE_WORKING" || true; fi
      fi
    fi
  fi
  local caption i w=
  for i in $(seq 1 120); do
    kill -0 "$GUI_PID" 2>/dev/null || break
    for caption in "My congratulations!" "Patch install error." "Patch search error."; do
      w=$(gui_xid_by_name "^$caption\$")
      [ -n "$w" ] && break 2
    done
    sleep 0.5
  done
  if [ -n "$w" ]; then
    GUI_FINAL=$caption
    gui_windows | grep -A4 "title=\"$caption\"" | sed 's/^/    /' >"$GUI_SHOTS/$shots-final.txt" || true
    gui_shot "$shots-final"
    gui_press "$w" Return
  fi
  gui_wait_exit
}

# The last visible X window whose name matches REGEX: of two windows of one name (the status
# window and a message box with the same caption), the one made later.
gui_last_xid_by_name() {  # gui_last_xid_by_name REGEX
  local found
  found=$(xdotool search --onlyvisible --name "$1" 2>/dev/null) || return 0
  printf '%s\n' "$found" | tail -1
}

# Runs the installer to take an install back (ARGS hold /UNDO), answers its question with
# ACTION (ok or cancel), and presses the final box away. Sets GUI_STATUS, and GUI_FINAL to the
# final box's caption; saves the question's and the final box's texts and pictures.
gui_run_undo() {  # gui_run_undo PREFIX EXE ACTION SHOT_PREFIX ARGS...
  GUI_PREFIX=$1
  local exe=$2 action=$3 shots=$4
  shift 4
  GUI_FINAL=
  gui_wine "$GUI_PREFIX" "$exe" "$@" >/dev/null 2>&1 &
  GUI_PID=$!
  local final='The Dravo patch was taken back|Nothing was changed'
  if gui_wait_text "Take back the Dravo patch|$final" 60 && gui_shows 'Take back the Dravo patch'; then
    gui_windows >"$GUI_SHOTS/$shots-question.txt"
    gui_shot "$shots-question"
    gui_press "$(gui_last_xid_by_name '^Dravo patch$')" "$([ "$action" = cancel ] && echo Escape || echo Return)"
  fi
  if [ "$action" != cancel ] && gui_wait_text "$final" 60; then
    gui_windows >"$GUI_SHOTS/$shots-final.txt"
    # The box is the dialog-class window; the status window may have the same caption.
    GUI_FINAL=$(grep -o 'class="#32770" title="[^"]*"' "$GUI_SHOTS/$shots-final.txt" | head -1 |
      sed 's/^.*title="//; s/"$//')
    gui_shot "$shots-final"
    gui_press "$(gui_last_xid_by_name "^$GUI_FINAL\$")" Return
  fi
  gui_wait_exit
}

# Sets GUI_EXTENT to the size in pixels, "WIDTH HEIGHT", of TEXT in the default font of a
# device context, which is the font the installer draws its phase text and progress line in.
# Measured once per text, since every start of a Wine program costs a good part of a second;
# call it directly, not in $(...), so that the measure is kept.
declare -gA GUI_EXTENTS=()
gui_text_extent() {  # gui_text_extent TEXT
  if [ -z "${GUI_EXTENTS[$1]:-}" ]; then
    GUI_EXTENTS[$1]=$(gui_wine "$GUI_PREFIX" "$GUI_TOOLS/list_windows.exe" --text-extent "$1" 2>/dev/null | tr -d '\r')
  fi
  GUI_EXTENT=${GUI_EXTENTS[$1]}
}

# The client area's top-left corner on the screen, "X Y", of the visible window titled TITLE;
# nothing when there is none.
gui_client_origin() {  # gui_client_origin TITLE
  gui_windows | grep -F "title=\"$1\" visible=1" | head -1 | sed -n 's/.* client=\([-0-9]*\),\([-0-9]*\),.*/\1 \2/p'
}

# The colours of the rectangle of SHOT at X,Y (screen pixels) of WIDTH by HEIGHT, one a line
# with its pixel count (ImageMagick's histogram).
gui_colours() {  # gui_colours SHOT X Y WIDTH HEIGHT
  convert "$1" -crop "$4x$5+$2+$3" +repage -format %c histogram:info:- 2>/dev/null || true
}

# Each colour of the rectangle as "neutral" (grey: red, green and blue equal) or "colour".
gui_colour_kinds() {  # gui_colour_kinds SHOT X Y WIDTH HEIGHT
  gui_colours "$@" | sed -n 's/^ *[0-9]*: (\([0-9]*\),\([0-9]*\),\([0-9]*\)[,)].*/\1 \2 \3/p' |
    awk '{print ($1 == $2 && $2 == $3) ? "neutral" : "colour"}'
}

# True when the rectangle is a text band as the installer draws it: an opaque black background
# with white glyphs, whose smoothed edges are greys, and nothing else. The title picture has
# no grey where the installer writes, only tints of blue and purple.
gui_is_text_band() {  # gui_is_text_band SHOT X Y WIDTH HEIGHT
  local colours
  colours=$(gui_colours "$@")
  grep -q '#000000' <<<"$colours" && grep -q '#FFFFFF' <<<"$colours" &&
    ! gui_colour_kinds "$@" | grep -qx colour
}

# True when the rectangle holds some colour that no text band has.
gui_has_picture() {  # gui_has_picture SHOT X Y WIDTH HEIGHT
  gui_colour_kinds "$@" | grep -qx colour
}

# True when SHOT shows, in the client area whose corner is at X,Y, a text band of TEXT's size
# at client position LEFT,TOP. With "exact", the band must also end there (the column behind
# it shows the picture again), so that only a text of just that width counts; with "prefix",
# a longer line counts too.
gui_shows_drawn_text() {  # gui_shows_drawn_text exact|prefix SHOT X Y LEFT TOP TEXT
  local w h x y
  gui_text_extent "$7"
  read -r w h <<<"$GUI_EXTENT"
  [ -n "${h:-}" ] || return 1
  x=$(($3 + $5)) y=$(($4 + $6))
  gui_is_text_band "$2" "$x" "$y" "$w" "$h" || return 1
  [ "$1" = prefix ] || gui_has_picture "$2" $((x + w)) "$y" 1 "$h"
}
