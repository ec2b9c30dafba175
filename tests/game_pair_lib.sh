# Pairs of game folders for the tests of `dravo patch make`, and the comparison of two games
# through their own tables. Source it; it needs bash, mawk or any awk, od and cmp.
#
#   make_game_pair SEED OLD NEW DRAVO   makes OLD and NEW (folders that must not exist yet)
#   same_game A B DRAVO                 prints every difference between two games; 1 if any
#
# A pair is drawn from a pseudo-random sequence seeded with SEED, so a seed always gives the
# same folders: the failing seed of a test run can be made again by hand. OLD holds one or two
# containers in Data\ (members of 0 bytes to a few KB, in some seeds one of a few hundred KB),
# plain files in the game folder itself and one in Data\, all logical names of its [path]
# section and multigen.dat, and message tables compiled from a generated source. NEW is OLD
# with only the changes that a patch installer can make: the data of members (never which
# members a container has), plain files of the game folder itself, changed and new messages,
# and sometimes a new plain file under a new logical name, for which OLD's [path] section
# keeps blank lines (each is a free entry of the file table).

gp_vocabulary=(the old road north gold merchant knight river stone dark valley winter sword
  lantern tower village dragon bridge shadow forest silver queen hunter ember quiet long
  iron gate of and to a in with under beyond near ancient mill fire watch keeper song)
gp_cyrillic=($'\xc4\xf0\xe0\xe2\xee' $'\xe4\xee\xf0\xee\xe3\xe0' $'\xe7\xee\xeb\xee\xf2\xee'
  $'\xf0\xfb\xf6\xe0\xf0\xfc' $'\xf0\xe5\xea\xe0' $'\xe1\xe0\xf8\xed\xff' $'\xe8' $'\xed\xe0')

# gp_roll N: a number from 0 to N-1 in $gp_r. It sets a variable rather than printing, since
# a command substitution would draw from a copy of the sequence and leave the caller's as it was.
gp_roll() {
  if [ "$1" -le 32768 ]; then gp_r=$((RANDOM % $1)); else gp_r=$(((RANDOM * 32768 + RANDOM) % $1)); fi
}
gp_between() { gp_roll $(($2 - $1 + 1)); gp_r=$((gp_r + $1)); }  # gp_between LOW HIGH

# gp_bytes SIZE FILE: SIZE bytes of every value, drawn from the sequence.
gp_bytes() {
  gp_roll 32768; local s=$gp_r; gp_roll 32768
  LC_ALL=C awk -v n="$1" -v s=$((s * 32768 + gp_r)) 'BEGIN { srand(s); for (i = 0; i < n; i++) printf "%c", int(rand() * 256) }' >"$2"
}

# gp_words N [cyrillic]: N words in $gp_text.
gp_words() {
  local i list=("${gp_vocabulary[@]}"); [ "${2:-}" = cyrillic ] && list=("${gp_cyrillic[@]}")
  gp_text=
  for ((i = 0; i < $1; i++)); do gp_roll ${#list[@]}; gp_text+="${gp_text:+ }${list[gp_r]}"; done
}

# gp_plain_data FILE: the content of a plain file; text or binary, 0 bytes to 3 KB.
gp_plain_data() {
  gp_roll 4
  case $gp_r in
    0) gp_between 0 40; gp_bytes "$gp_r" "$1" ;;
    1) gp_between 100 3000; gp_bytes "$gp_r" "$1" ;;
    *) gp_between 3 30; gp_words "$gp_r"; printf '%s\r\n' "$gp_text" >"$1" ;;
  esac
}

# gp_member_data FILE: a container member's data; 0 bytes to 8 KB.
gp_member_data() {
  gp_roll 6
  case $gp_r in
    0) : >"$1" ;;
    1) gp_between 1 64; gp_bytes "$gp_r" "$1" ;;
    *) gp_between 100 8192; gp_bytes "$gp_r" "$1" ;;
  esac
}

# gp_change_data FILE: changes a file as a new version of the game would: new data, or the
# same size with one byte changed, or (rarely) nothing left.
gp_change_data() {
  local size; size=$(stat -c %s "$1")
  gp_roll 8
  if [ "$gp_r" -lt 3 ] && [ "$size" -gt 0 ]; then
    gp_roll "$size"; local at=$gp_r
    local old; old=$(od -An -tu1 -j "$at" -N1 "$1")
    printf "\\$(printf %03o $(((old + 1) % 256)))" | dd of="$1" bs=1 seek="$at" conv=notrunc status=none
  elif [ "$gp_r" -eq 3 ] && [ "$size" -gt 0 ]; then
    : >"$1"
  else
    gp_between 1 6000; gp_bytes "$gp_r" "$1"
  fi
}

# gp_unique_name PREFIX: a logical name not used yet in this pair, in $gp_name; now and then
# one of the full 19 characters a name may have.
gp_unique_name() {
  while :; do
    gp_roll ${#gp_vocabulary[@]}; gp_name="$1${gp_vocabulary[gp_r]}"
    gp_roll 10; [ "$gp_r" -eq 0 ] && gp_name="${gp_name}_long_long_name" && gp_name=${gp_name:0:19}
    gp_roll 100; gp_name+=$gp_r
    gp_name=${gp_name:0:19}
    [ -z "${gp_used[$gp_name]:-}" ] && { gp_used[$gp_name]=1; return; }
  done
}

gp_record() {  # gp_record NAME CONTAINER: one 42-byte record of multigen.dat
  printf '%s' "$1"; head -c $((20 - ${#1})) /dev/zero; printf '%s' "$2"; head -c $((20 - ${#2})) /dev/zero; printf '\0\0'
}
gp_path_line() { printf '%-19s %s\r\n' "$1" "$2"; }  # a [path] line: name in columns 1-19, value from 21

# One message of the source, as arrays indexed alike: number, header after the number, text
# lines (joined by newlines), and 1 for a message of the #RUS section.
gp_new_message_text() {  # gp_new_message_text RAW RUS: the text lines in $gp_lines
  local raw=$1 rus=$2 n i kind=''; [ "$rus" = 1 ] && kind=cyrillic
  gp_between 1 4; n=$gp_r; gp_lines=
  for ((i = 0; i < n; i++)); do
    gp_between 2 14; gp_words "$gp_r" $kind
    gp_roll 12
    case $gp_r in
      0) gp_text+='\c' ;;                              # the line centred in the message's width
      1) gp_text+='\e' ;;                              # the line justified
      2) gp_text="${gp_text/ /\\}" ;;                  # a string ends inside the line
      3) [ "$i" -eq 0 ] && gp_text="...$gp_text" ;;    # the message's dots mark
      4) [ "$raw" = 1 ] && gp_text="${gp_text/ /   }" ;; # inner spacing that a raw message keeps
    esac
    gp_lines+="${gp_lines:+$'\n'}$gp_text"
  done
}
gp_new_header() {  # gp_new_header: what follows the number in a header, in $gp_header
  local h2 h3 h4 h5 width lines end
  gp_roll 10; h2=$gp_r; gp_roll 10; h3=$gp_r; gp_roll 3; h4=$gp_r; gp_roll 3; h5=$gp_r
  gp_between 20 80; width=$gp_r; gp_between 1 6; lines=$gp_r; gp_roll 4; end=$gp_r
  gp_header="$h2 $h3 $h4 $h5 $width $lines $end"
  gp_roll 5; [ "$gp_r" -eq 0 ] && gp_header+=" -c"; [ "$gp_r" -eq 1 ] && gp_header+=" -e"
  gp_roll 6; [ "$gp_r" -eq 0 ] && gp_header+=" voice$RANDOM.wav"
  gp_roll 6; [ "$gp_r" -eq 0 ] && gp_header+=" p5 p$((RANDOM % 40))"
}
gp_add_message() {  # gp_add_message RUS: a new message with a number not used yet
  local number
  while :; do gp_between 1 90; number=$gp_r; [ -z "${gp_msg_used[$number]:-}" ] && break; done
  gp_msg_used[$number]=1
  local i=${#gp_msg_num[@]}
  gp_msg_num[i]=$number; gp_msg_rus[i]=$1
  gp_roll 4; gp_msg_raw[i]=$((gp_r == 0 ? 1 : 0))
  gp_new_header; gp_msg_hdr[i]=$gp_header
  gp_new_message_text "${gp_msg_raw[i]}" "$1"; gp_msg_txt[i]=$gp_lines
}
gp_write_source() {  # gp_write_source FILE: the message source of the messages so far
  local i section
  {
    printf '// Texts of a generated game.\r\n'
    for section in 0 1; do
      [ "$section" = 1 ] && [ "$gp_has_rus" = 1 ] && printf '#RUS\r\n'
      for i in "${!gp_msg_num[@]}"; do
        [ "${gp_msg_rus[i]}" = "$section" ] || continue
        printf '#%s%s %s\r\n' "$([ "${gp_msg_raw[i]}" = 1 ] && echo '#')" "${gp_msg_num[i]}" "${gp_msg_hdr[i]}"
        printf '%s\n' "${gp_msg_txt[i]}" | sed 's/$/\r/'
      done
    done
    printf '#0\r\n'
  } >"$1"
}
gp_quiet() {  # gp_quiet COMMAND...: runs it silently, but shows its complaint when it fails
  local out; out=$("$@" 2>&1) || { printf 'make_game_pair: %s\n' "$out" >&2; return 1; }
}
gp_compile() {  # gp_compile GAME DRAVO: the tables from GAME/message.txt, which is then removed
  # The compiler's error file goes to the current directory: a scratch one, not the game's.
  local cwd; cwd=$(mktemp -d)
  (cd "$cwd" && "$2" msg compile "$1" >/dev/null 2>&1) || { rm -rf "$cwd"; echo "make_game_pair: msg compile failed in $1" >&2; return 1; }
  rm -rf "$cwd" "$1/message.txt"
}

make_game_pair() {  # make_game_pair SEED OLD NEW DRAVO
  local seed=$1 old=$2 new=$3 dravo=$4
  case $old in /*) ;; *) old=$PWD/$old ;; esac
  case $new in /*) ;; *) new=$PWD/$new ;; esac
  case $dravo in /*) ;; *) dravo=$PWD/$dravo ;; esac
  RANDOM=$seed
  declare -gA gp_used=() gp_msg_used=()
  gp_msg_num=() gp_msg_hdr=() gp_msg_txt=() gp_msg_raw=() gp_msg_rus=()
  mkdir -p "$old/Data" || return 1
  local tmp; tmp=$(mktemp -d)

  # Containers and their members; one member of a few hundred KB in a third of the seeds.
  local containers=(dravo.mul) c m members=() member_of=() big=
  gp_roll 2; [ "$gp_r" -eq 1 ] && containers+=(sounds.mul)
  gp_roll 3; [ "$gp_r" -eq 0 ] && big=1
  for c in "${containers[@]}"; do
    local count; gp_between 3 6; count=$gp_r
    for ((m = 0; m < count; m++)); do
      gp_unique_name ''; members+=("$gp_name"); member_of+=("$c")
      if [ -n "$big" ]; then gp_between 200000 400000; gp_bytes "$gp_r" "$tmp/$gp_name"; big=
      else gp_member_data "$tmp/$gp_name"; fi
      gp_quiet "$dravo" container add "$old/Data/$c" "$gp_name" "$tmp/$gp_name" || { rm -rf "$tmp"; return 1; }
    done
  done

  # Plain files: a few in the game folder itself, one in Data\ that no version changes.
  local plain=() count
  gp_between 2 4; count=$gp_r
  for ((m = 0; m < count; m++)); do gp_unique_name f; plain+=("$gp_name"); gp_plain_data "$old/$gp_name"; done
  local data_file; gp_unique_name d; data_file=$gp_name; gp_plain_data "$old/Data/$data_file"
  printf 'MZ stand-in for the game\r\n' >"$old/Dravo.exe"

  # The tables: blank lines in the [path] section leave free entries for a patch's new names.
  local blanks; gp_between 1 2; blanks=$gp_r
  {
    printf '[dircd]\r\nq:\\dravo\\\r\n[path]\r\n'
    for m in "${!members[@]}"; do gp_path_line "${members[m]}" 'hd:data\'; done
    for m in "${plain[@]}"; do gp_path_line "$m" 'hd:'; done
    gp_path_line "$data_file" 'hd:data\'
    for ((m = 0; m < blanks; m++)); do printf '\r\n'; done
    printf '[sound]\r\nvolume=8\r\n'
  } >"$old/Dravo.ini"
  for m in "${!members[@]}"; do gp_record "${members[m]}" "${member_of[m]}"; done >"$old/multigen.dat"

  # The messages: a dozen, the last few in a #RUS section in some seeds.
  gp_roll 3; gp_has_rus=$((gp_r == 0 ? 1 : 0))
  local n; gp_between 10 14; n=$gp_r
  for ((m = 0; m < n; m++)); do gp_add_message $((gp_has_rus && m >= n - 3 ? 1 : 0)); done
  gp_write_source "$old/message.txt" && gp_compile "$old" "$dravo" || { rm -rf "$tmp"; return 1; }

  # NEW: OLD with changes a patch can express; always at least one changed member.
  cp -r "$old" "$new" || { rm -rf "$tmp"; return 1; }
  local changed=0
  for m in "${!members[@]}"; do
    gp_roll 3
    if [ "$gp_r" -eq 0 ] || { [ "$changed" -eq 0 ] && [ "$m" -eq $((${#members[@]} - 1)) ]; }; then
      gp_quiet "$dravo" container extract "$new/Data/${member_of[m]}" "${members[m]}" "$tmp/m" &&
        gp_change_data "$tmp/m" &&
        gp_quiet "$dravo" container replace "$new/Data/${member_of[m]}" "${members[m]}" "$tmp/m" || { rm -rf "$tmp"; return 1; }
      changed=$((changed + 1))
    fi
  done
  for m in "${plain[@]}"; do gp_roll 3; [ "$gp_r" -eq 0 ] && gp_change_data "$new/$m"; done
  gp_roll 2
  if [ "$gp_r" -eq 0 ]; then  # a new plain file under a new logical name
    gp_unique_name n; gp_plain_data "$new/$gp_name"
    { sed -n '1,/^\[path\]/p' "$old/Dravo.ini"; gp_path_line "$gp_name" 'hd:'; sed -n '/^\[path\]/,$p' "$old/Dravo.ini" | tail -n +2; } >"$new/Dravo.ini"
  fi
  local i
  for i in "${!gp_msg_num[@]}"; do
    gp_roll 4
    [ "$gp_r" -eq 0 ] && gp_new_message_text "${gp_msg_raw[i]}" "${gp_msg_rus[i]}" && gp_msg_txt[i]=$gp_lines
    gp_roll 6
    [ "$gp_r" -eq 0 ] && gp_new_header && gp_msg_hdr[i]=$gp_header
  done
  gp_roll 3; local added=$gp_r
  for ((m = 0; m < added; m++)); do gp_roll 4; gp_add_message $((gp_has_rus && gp_r == 0 ? 1 : 0)); done
  rm -f "$new/message.dat" "$new/message.str"
  gp_write_source "$new/message.txt" && gp_compile "$new" "$dravo" || { rm -rf "$tmp"; return 1; }
  rm -rf "$tmp"
}

# --- The comparison -------------------------------------------------------------------------

# gp_find GAME RELATIVE: the path of RELATIVE (components separated by /) in GAME, each
# component matched as the game's file system does: the exact name first, else without regard
# to case. Prints the path as it would be when nothing matches.
gp_find() {
  local at=$1 part found rest=$2 parts
  IFS=/ read -ra parts <<<"$rest"
  for part in "${parts[@]}"; do
    [ -n "$part" ] || continue
    if [ -e "$at/$part" ]; then at=$at/$part; continue; fi
    found=$(find "$at" -maxdepth 1 -mindepth 1 -iname "$part" -print -quit 2>/dev/null)
    at=${found:-$at/$part}
  done
  printf '%s\n' "$at"
}

# gp_table GAME: one line per file of the game's tables, "plain RELATIVE" or "container
# RELATIVE", from the first [path] section of Dravo.ini (names in columns 1-19, the directory
# from column 21) and the records of multigen.dat.
gp_table() {
  local records
  records=$(od -An -v -tu1 -w42 "$1/multigen.dat" 2>/dev/null | awk '
    NF == 42 { name = ""; box = ""
      for (i = 1; i <= 20 && $i != 0; i++) name = name sprintf("%c", $i)
      for (i = 21; i <= 40 && $i != 0; i++) box = box sprintf("%c", $i)
      print name "\t" box }')
  tr -d '\r' <"$1/Dravo.ini" | awk -v records="$records" '
    BEGIN { n = split(records, r, "\n"); for (i = 1; i <= n; i++) { split(r[i], f, "\t"); box[f[1]] = f[2] } }
    { line = tolower($0) }
    line ~ /^[ \t]*\[path\]/ { if (seen) exit; seen = 1; inpath = 1; next }
    inpath && index(line, "[") { exit }
    inpath {
      name = substr(line, 1, 19); gsub(/^[ \t]+|[ \t]+$/, "", name); if (name == "") next
      dir = substr(line, 21); gsub(/^[ \t]+|[ \t]+$/, "", dir)
      if (dir !~ /^hd:/) next
      dir = substr(dir, 4); gsub(/\\/, "/", dir)
      if (name in box && box[name] != "") print "container " dir box[name]; else print "plain " dir name
    }' | sort -u
}

# gp_changed_messages A B WORK: the numbers of the messages that are not byte for byte the
# same in both games: the record but its first_string (its bytes 89 to 92), and its strings.
# Only these need the closer look of `dravo msg show`; a message of one game only is listed.
gp_changed_messages() {
  local side
  for side in a b; do
    local game=$1; [ "$side" = b ] && game=$2
    od -An -v -tu1 -w180 "$game/message.dat" >"$3/dat.$side" 2>/dev/null || : >"$3/dat.$side"
    od -An -v -tx1 -w305 "$game/message.str" >"$3/str.$side" 2>/dev/null || : >"$3/str.$side"
  done
  awk '
    kind == "str" { str[side, FNR - 1] = $0; next }
    FNR > 1 && $1 == 52 && $2 == 18 && $3 + 256 * $4 == FNR - 1 {
      key = ""
      for (i = 1; i <= 180; i++) if (i < 90 || i > 93) key = key " " $i
      first = $90 + 256 * ($91 + 256 * ($92 + 256 * $93))
      for (i = 0; i < $89; i++) key = key "|" (((side, first + i) in str) ? str[side, first + i] : "missing")
      message[side, FNR - 1] = key; number[FNR - 1] = 1
    }
    END { for (n in number) if (message["a", n] != message["b", n]) print n }
  ' kind=str side=a "$3/str.a" kind=dat "$3/dat.a" kind=str side=b "$3/str.b" kind=dat "$3/dat.b" | sort -n
}

# gp_show GAME N: message N as `dravo msg show` prints it, without what may differ between
# two tables that read the same: where its strings sit in message.str.
gp_show() {
  "$dravo_for_compare" msg show "$1" "$2" 2>&1 | sed -e '/^first_string\t/d' -e 's/^string [0-9]*\t/string\t/' -e "s|$1|GAME|g"
}

# same_game A B DRAVO: compares two games through their tables; prints each difference and
# returns 1 when there is one. Every container member and every plain file named by either
# game's tables must be the same, byte for byte, and every message the same in its record
# (but first_string) and its strings. Files outside the tables (Dravo.ini itself, the
# patch's files, the install's journal and log) are not compared.
same_game() {
  local a=$1 b=$2 dravo_for_compare=$3 kind rel differ=0 work
  work=$(mktemp -d)
  while read -r kind rel; do
    local fa fb; fa=$(gp_find "$a" "$rel"); fb=$(gp_find "$b" "$rel")
    if [ ! -f "$fa" ] || [ ! -f "$fb" ]; then
      [ -f "$fa" ] || [ -f "$fb" ] || continue
      echo "$rel: only in $([ -f "$fa" ] && echo "$a" || echo "$b")"; differ=1; continue
    fi
    if [ "$kind" = plain ]; then
      cmp -s "$fa" "$fb" || { echo "$rel: differs"; differ=1; }
      continue
    fi
    cmp -s "$fa" "$fb" && continue  # the same container file holds the same members
    rm -rf "$work/a" "$work/b"
    if ! "$dravo_for_compare" container extract "$fa" --all -o "$work/a" >/dev/null 2>"$work/err" ||
       ! "$dravo_for_compare" container extract "$fb" --all -o "$work/b" >/dev/null 2>>"$work/err"; then
      echo "$rel: cannot be read: $(cat "$work/err")"; differ=1; continue
    fi
    local only; only=$(diff -rq "$work/a" "$work/b" 2>&1 | sed -e "s|$work/a|A|" -e "s|$work/b|B|" -e "s|^|$rel: |")
    [ -z "$only" ] || { printf '%s\n' "$only"; differ=1; }
  done < <({ gp_table "$a"; gp_table "$b"; } | sort -u)
  local n
  for n in $(gp_changed_messages "$a" "$b" "$work"); do
    gp_show "$a" "$n" >"$work/ma"; gp_show "$b" "$n" >"$work/mb"
    cmp -s "$work/ma" "$work/mb" && continue
    echo "message $n differs:"; diff "$work/ma" "$work/mb" | sed 's/^/  /'; differ=1
  done
  rm -rf "$work"
  return "$differ"
}
