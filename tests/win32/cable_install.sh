#!/usr/bin/env bash
# The cable installer's checked run under wine, with real Authenticode
# signatures: a certificate authority made here and trusted in the prefix's
# machine Root store signs the stand-in installer once for a signer named
# like the vendor and once for another. Only the vendor-signed file under an
# installer's name runs (it leaves a marker) and gives 0; every other file
# gives 2 and runs nothing. Each case goes through cable_tool.exe (the step
# itself) and through "VantorOvix.exe --install-cable" (the program's own
# switch), which must show no window.
#   cable_install.sh VantorOvix.exe cable_tool.exe standin.exe WORKDIR
set -uo pipefail
exe=${1:?VantorOvix.exe} tool=${2:?cable_tool.exe} standin=${3:?stand-in installer} work=${4:?work dir}
mkdir -p "$work"
work=$(cd "$work" && pwd)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
source "$(dirname "$0")/../../e2e/session.sh"
cleanup() {
  # Every process of this prefix is ours; none may outlive the test.
  wineserver -k >/dev/null 2>&1
  stop_xvfb
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

# A display, so that a window the switch wrongly opened would really exist.
start_xvfb "$work"
[ -d "$WINEPREFIX" ] || wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot failed"

# --- certificates: a root, and two code-signing certificates it issues ---
certs=$work/certs
rm -rf "$certs" "$work/cases"
mkdir -p "$certs"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -keyout "$certs/root.key" -out "$certs/root.pem" \
  -subj "/CN=Ovix Test Root" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" >"$certs/openssl.log" 2>&1 || fail "no root certificate"
openssl x509 -in "$certs/root.pem" -outform DER -out "$certs/root.der"
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$certs/signer.ext"
sign() { # NAME "COMMON NAME": signed-NAME.exe from the stand-in
  local name=$1 cn=$2
  openssl req -newkey rsa:2048 -nodes -keyout "$certs/$name.key" -out "$certs/$name.csr" -subj "/O=$cn/CN=$cn" \
    >>"$certs/openssl.log" 2>&1 || fail "no request for $name"
  openssl x509 -req -in "$certs/$name.csr" -CA "$certs/root.pem" -CAkey "$certs/root.key" -CAcreateserial \
    -days 30 -extfile "$certs/signer.ext" -out "$certs/$name.pem" >>"$certs/openssl.log" 2>&1 \
    || fail "no certificate for $name"
  cat "$certs/$name.pem" "$certs/root.pem" >"$certs/$name-chain.pem"
  osslsigncode sign -certs "$certs/$name-chain.pem" -key "$certs/$name.key" -n "Cable setup" -h sha256 \
    -in "$standin" -out "$certs/signed-$name.exe" >>"$certs/osslsigncode.log" 2>&1 || fail "osslsigncode failed for $name"
}
sign vendor "VB-Audio Software Test"
sign other "Other Maker Ltd"

# What wine makes of a signature whose root it does not know yet (a note for the log).
echo "before the root is trusted, signer: $(wine "$tool" signer "$(winepath -w "$certs/signed-other.exe")" | tr -d '\r')"
wine "$tool" add-root "$(winepath -w "$certs/root.der")" || fail "the root certificate was not added to the prefix"
vendor=$(wine "$tool" signer "$(winepath -w "$certs/signed-vendor.exe")" | tr -d '\r')
[ "$vendor" = "VB-Audio Software Test" ] || fail "the vendor-signed file's signer reads \"$vendor\""

# --- the cases: NAME FILE-NAME SOURCE EXPECTED-CODE ---
flip_byte() { # FILE OFFSET: one byte changed in place
  local old new
  old=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  new=$(((old + 1) % 256))
  printf "\\$(printf %03o "$new")" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
prepare() { # NAME FILE-NAME SOURCE: the case's folder with the file in it
  local dir=$work/cases/$1
  mkdir -p "$dir"
  [ "$3" = none ] || cp "$3" "$dir/$2"
  case $1 in changed-*) flip_byte "$dir/$2" 1100 ;; esac
  echo "$dir"
}

run_case() { # NAME FILE-NAME SOURCE EXPECTED
  local name=$1 file=$2 source=$3 expected=$4 dir path rc how
  for how in step switch; do
    dir=$(prepare "$name-$how" "$file" "$source")
    path=$(winepath -w "$dir/$file")
    if [ $how = step ]; then
      timeout 120 wine "$tool" run-installer "$path" >"$dir/run.log" 2>&1
    else
      timeout 120 wine "$exe" --install-cable "$path" >"$dir/run.log" 2>&1
    fi
    rc=$?
    [ "$rc" -eq "$expected" ] || fail "$name ($how): exit code $rc, not $expected"
    if [ "$expected" -eq 0 ]; then
      [ -f "$dir/installer-ran.txt" ] || fail "$name ($how): the installer did not run"
    else
      [ -f "$dir/installer-ran.txt" ] && fail "$name ($how): a refused installer ran"
    fi
    if [ $how = switch ]; then
      grep -q "VantorOvix: running" "$dir/run.log" && fail "$name: the installer run started the program"
      # Listed by the stand-in while the switch's process waited for it.
      if [ -f "$dir/installer-ran.txt" ]; then
        grep -qi "started by VantorOvix.exe" "$dir/installer-ran.txt" \
          || fail "$name: the installer was not started by VantorOvix.exe: $(head -n 1 "$dir/installer-ran.txt")"
        grep -q "^visible window" "$dir/installer-ran.txt" \
          && fail "$name: the installer run showed a window: $(grep '^visible window' "$dir/installer-ran.txt")"
      fi
    fi
    echo "$name ($how): exit code $rc"
  done
}

run_case accepted VBCABLE_Setup_x64.exe "$certs/signed-vendor.exe" 0
run_case other-signer VBCABLE_Setup_x64.exe "$certs/signed-other.exe" 2
run_case unsigned VBCABLE_Setup_x64.exe "$standin" 2
run_case changed VBCABLE_Setup_x64.exe "$certs/signed-vendor.exe" 2
run_case wrong-name Setup_x64.exe "$certs/signed-vendor.exe" 2
run_case missing VBCABLE_Setup.exe none 2
echo "cable installer signatures: passed"
