#!/usr/bin/env bash
# scripts/lib/apt-update against a stand-in apt-get whose Nth call answers with the Nth of
# FAKE_OUTCOMES (the last one repeating): ok, lock, partial (a mirror in mid-sync), unreachable
# (which apt only warns of), missing (404), broken. A case's text, spaces written _, is how the
# output must end; none, that it is silent.
set -euo pipefail
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
cat >"$bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$*" >>"$FAKE_DIR/calls"
read -ra outcomes <<<"$FAKE_OUTCOMES"
n=$(wc -l <"$FAKE_DIR/calls")
case ${outcomes[n - 1]:-${outcomes[-1]}} in
ok) exit 0 ;;
lock) echo "E: Could not get lock /var/lib/apt/lists/lock" ;;
partial) printf 'E: Failed to fetch http://m/P.xz  Size mismatch\nE: Failed to fetch http://m/Q.xz  \nE: Some index files failed to download.\n' ;;
unreachable) printf 'W: Failed to fetch http://m/InRelease  Could not connect to m:80\nW: Some index files failed to download.\n'
    exit 0 ;;
missing) printf 'E: Failed to fetch http://m/R.xz  404  Not Found\nE: Some index files failed to download.\n' ;;
*) echo "E: Malformed list" ;;
esac
exit 100
STUB
printf '#!/bin/sh\n' >"$bin/sleep"
chmod +x "$bin/apt-get" "$bin/sleep"
status=0
while read -r outcomes want_status want_calls want_text; do
    rm -f "$bin/calls"
    text=$(FAKE_DIR=$bin FAKE_OUTCOMES=${outcomes//,/ } PATH="$bin:$PATH" "$1" t 2>&1) && got=0 || got=$?
    calls=$(wc -l <"$bin/calls")
    want_text=$(printf '%b' "${want_text//_/ }")
    if [ "$got $calls" != "$want_status $want_calls" ] || [[ $text != *"$want_text" ]] ||
        { [ -z "$want_text" ] && [ -n "$text" ]; }; then
        printf 'FAIL %s: status %s after %s calls, saying:\n%s\n' "$outcomes" "$got" "$calls" "$text"
        status=1
    fi
done <<'CASES'
ok           0 1
lock,lock,ok 0 3
broken,ok    0 2 t:_the_package_lists_did_not_update_(E:_Malformed_list);_trying_again_in_10_s
partial      0 2 \nt:_going_on_without_these_package_lists,_which_apt_could_not_fetch:\n__http://m/P.xz_(Size_mismatch)\n__http://m/Q.xz
broken       1 2 \nE:_Malformed_list\nt:_FAILED:_apt-get_update
unreachable  1 2 \nt:_FAILED:_cannot_reach_the_archive:\n__http://m/InRelease_(Could_not_connect_to_m:80)
missing      1 2 \nt:_FAILED:_the_archive_does_not_have:\n__http://m/R.xz_(404__Not_Found)
CASES
exit $status
