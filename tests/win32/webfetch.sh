#!/usr/bin/env bash
# The web page fetch under wine against HTTPS servers of the test's own on
# 127.0.0.1: one serves the stand-in helper and its checksum list at the
# release paths, the other the same list with a helper one byte changed.
# Wine's https accepts the servers' certificate only from the host's CA
# store, read into a new prefix: the certificate is added there for the run
# and removed afterwards in every case. Without root that cannot be done, and
# the test says it skipped (exit 77).
#   webfetch.sh win32_webfetch_tests.exe standin_helper.exe WORKDIR
set -uo pipefail
tests=${1:?test program} standin=${2:?stand-in helper} work=${3:?work dir}
if [ "$(id -u)" -ne 0 ] || ! command -v update-ca-certificates >/dev/null; then
  echo "SKIPPED: the host's CA store cannot be changed here (needs root and update-ca-certificates)"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ca=/usr/local/share/ca-certificates/ovix-webfetch-test-$$.crt
servers=()
cleanup() {
  local pid
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k >/dev/null 2>&1
  if [ -e "$ca" ]; then
    rm -f "$ca"
    update-ca-certificates --fresh >/dev/null 2>&1
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM
fail() { echo "FAILED: $*"; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/key.pem" -out "$work/cert.pem" -subj "/CN=localhost" \
  -addext "subjectAltName=DNS:localhost" -addext "basicConstraints=critical,CA:TRUE" >"$work/openssl.log" 2>&1 \
  || fail "no certificate"
# A run that was killed before its cleanup left its certificate behind.
for stale in /usr/local/share/ca-certificates/ovix-webfetch-test-*.crt; do
  [ -e "$stale" ] || continue
  owner=${stale##*-}
  kill -0 "${owner%.crt}" 2>/dev/null || rm -f "$stale"
done
cp "$work/cert.pem" "$ca"
update-ca-certificates >"$work/ca.log" 2>&1 || fail "update-ca-certificates failed"

# The served folders: the release paths under each server's root. The server
# sends each file as it is, so each begins with its response's head (a length,
# then the connection closes: wininet waits for either).
release=yt-dlp/yt-dlp/releases/latest/download
publish() { # FILE SITE NAME
  local to=$work/$2/$release/$3
  mkdir -p "${to%/*}"
  { printf 'HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %d\r\nConnection: close\r\n\r\n' \
      "$(stat -c %s "$1")"; cat "$1"; } >"$to"
}
sha=$(sha256sum "$standin" | cut -d' ' -f1)
printf '%s  yt-dlp_linux\n%s  yt-dlp.exe\n' "$(printf '0%.0s' {1..64})" "$sha" >"$work/SHA2-256SUMS"
cp "$standin" "$work/tampered.exe"
old=$(od -An -tu1 -j 1100 -N1 "$standin" | tr -d ' ')
printf "\\$(printf %03o $(((old + 1) % 256)))" | dd of="$work/tampered.exe" bs=1 seek=1100 conv=notrunc status=none
publish "$standin" good yt-dlp.exe
publish "$work/tampered.exe" tampered yt-dlp.exe
for site in good tampered; do publish "$work/SHA2-256SUMS" $site SHA2-256SUMS; done

serve() { # SITE: starts a server for it and prints its port
  local site=$1 port pid try
  for try in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 20000))
    (cd "$work/$site" && exec openssl s_server -HTTP -quiet -accept "127.0.0.1:$port" \
      -cert "$work/cert.pem" -key "$work/key.pem") >"$work/server-$site.log" 2>&1 &
    pid=$!
    sleep 0.5
    if kill -0 "$pid" 2>/dev/null; then
      servers+=("$pid")
      echo "$port"
      return 0
    fi
  done
  return 1
}
# Not in a subshell: the pids must reach cleanup.
serve good >"$work/port-good" || fail "the server did not start"
serve tampered >"$work/port-tampered" || fail "the second server did not start"
good=$(cat "$work/port-good") tampered=$(cat "$work/port-tampered")

sox -V1 -D -n -r 48000 -c 2 -b 16 "$work/page-sound.wav" synth 1.5 sine 440 vol 0.5 || fail "sox failed"
wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot failed"
mkdir -p "$work/runs"
# Within the test's own time limit, so that the cleanup always runs.
timeout 400 wine "$tests" "https://localhost:$good" "https://localhost:$tampered" "$(winepath -w "$work/runs")" \
  "$(winepath -w "$work/page-sound.wav")" "$sha"
