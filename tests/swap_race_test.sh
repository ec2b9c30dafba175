#!/usr/bin/env bash
# Root installs a patch into a game folder owned by `nobody`, while that user keeps swapping
# the patch's files, in the game folder and in the stage, for links to a file only root may
# read (symbolic links, and hard links where the kernel allows them), and keeps putting a
# stage of its own in place of the installer's. The installer reads each carried file through
# the handle it made when unpacking it, so the secret's bytes must never reach a container,
# the message tables or any other file of the game, whatever became of each install.
# Usage: swap_race_test.sh DRAVO TEMPLATE [INSTALLS] (exit 77, skipped, when not root or
# without setpriv)
set -u
dravo=$1
template=$2
installs=${3:-6}
. "$(dirname "${BASH_SOURCE[0]}")/nobody_lib.sh"

DRAVO_DEMO_WORLD_KIB=64 bash "$root/scripts/make-demo-game" "$dravo" "$tmp/old" "$tmp/patch" >/dev/null || exit 1
"$dravo" pack build --template "$template" --out "$tmp/patch.bin" "$tmp"/patch/* >/dev/null || exit 1

# The secret reads as a message source and as a member's data alike, so that whichever carried
# file it stood in for, its marker would land in a table or a container.
marker=ROOTONLYSECRETMARKER
mkdir -m 755 "$tmp/vault"
secret=$tmp/vault/secret
printf '[work]\n0 newhero.bin hero\n#1 0 0 0 0 40 1 0\nWelcome %s\n#0\n' "$marker" >"$secret"
chmod 600 "$secret"
secret_sum=$(sha256sum "$secret")

g=$tmp/g
stop=$tmp/stop
# The swapper, in a tight loop: each carried name, in the game folder and in the stage, becomes
# a link to the secret, put in place by a rename; now and then the stage itself is moved aside
# and a folder of the user's own put in its place.
cat >"$tmp/swapper.pl" <<'EOF'
my ($g, $secret, $stop) = @ARGV;
my $i = 0;
until (-e $stop) {
  $i++;
  for my $n (qw(patch.ini patch.dat newhero.bin msgnew.txt)) {
    for my $d ($g, "$g/DravoPatch.stage") {
      unlink "$d/.s.$n", "$d/.h.$n";
      symlink($secret, "$d/.s.$n") and rename("$d/.s.$n", "$d/$n");
      link($secret, "$d/.h.$n") and rename("$d/.h.$n", "$d/$n");
    }
  }
  if ($i % 500 == 0 && -d "$g/DravoPatch.stage" && !-l "$g/DravoPatch.stage") {
    rename("$g/DravoPatch.stage", "$g/aside.$i") and mkdir("$g/DravoPatch.stage");
  }
}
EOF
chmod 644 "$tmp/swapper.pl"

completed=0
for ((run = 1; run <= installs; run++)); do
  rm -rf "$g" "$stop" && cp -r "$tmp/old" "$g" && chown -R nobody: "$g" && chmod 755 "$g"
  as_user perl "$tmp/swapper.pl" "$g" "$secret" "$stop" &
  swapper=$!
  timeout 60 "$dravo" install --game-dir "$g" --patch "$tmp/patch.bin" --yes >"$tmp/out" 2>&1 </dev/null
  status=$?
  touch "$stop"
  wait "$swapper"
  [ "$status" != 124 ] || fail "install $run: the tool blocked"
  [ "$status" != 0 ] || completed=$((completed + 1))
  leaked=$(find "$g" -type f ! -samefile "$secret" -exec grep -l "$marker" {} + 2>/dev/null)
  [ -z "$leaked" ] || { fail "install $run (exit $status): the secret reached"; echo "$leaked"; cat "$tmp/out"; }
  [ "$(sha256sum "$secret")" = "$secret_sum" ] && [ "$(stat -c '%u %a' "$secret")" = "0 600" ] ||
    fail "install $run: the secret changed"
done
echo "$completed of $installs installs completed while the files were swapped"
finish
