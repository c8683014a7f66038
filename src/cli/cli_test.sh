#!/usr/bin/env bash
# The console companion end to end on a registered stand-in server whose folder has spaces and
# a group tree with non-ASCII names: one row per outcome of "tmrovane create" (every build kind,
# each refusal, an unanswered question, a password from the environment), each checked by its
# exit code, its messages on standard error and the installer read back by 7zz, msitools or tar.
# Then "inspect" on installers changed after the build and on files no reader takes whole, and
# "groups". Usage: cli_test.sh BIN_DIR (tmrovane.com, srvlayout.exe and the built server)
set -euo pipefail
bin=$1
root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$root_dir/scripts/wine-env.sh"
source "$root_dir/tests/support/console_server.sh"
console_work cli_test
trap console_cleanup EXIT

server="$work/Server (x86) Folder"
program="$server/ClientPackager"
out="$work/out dir"
mkdir -p "$out"
# The standard tree with a non-ASCII top-level group and sub-group, and two groups on one path.
cat >"$work/groups.txt" <<'TREE'
1	0	{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}	Default
5	0	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C05}	Workstations
7	5	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C07}	Engineering
9	0	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C09}	Büro Zürich
10	9	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C10}	Клиенты
11	0	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C11}	Twins
12	0	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C12}	Twins
TREE
sed -i 's/$/\r/' "$work/groups.txt"
console_layout "$bin" "$server" --groups "$(win "$work/groups.txt")"
web="$server/Web/Build"

# FNV-1a 64 of the password, as the stand-in packer records it.
fnv() { python3 -c 'import sys
h = 0xcbf29ce484222325
for b in sys.argv[1].encode(): h = ((h ^ b) * 0x100000001b3) & 0xffffffffffffffff
print("%016x" % h)' "$1"; }

export CLI_PW='s3cret-Pw'
export CLI_SHORT='abc'
export CLI_SPACE='has space1'
dest=$(win "$out")
nowhere=$(win "$work/nowhere")
eng='{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C07}'
kli='{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C10}'
dflt='{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}'
declare -A group_path=(["$eng"]='Workstations\Engineering' ["$kli"]='Büro Zürich\Клиенты'
  ['{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}']=Default)
# inspect_against NAME FILE GUID LISTED: inspect reports the format, the SHA-256 that sha256sum
# computes, the group with its path, a valid record where the kind carries one, and the same
# files with the same sizes as the independent tool listed.
inspect_against() {
  local name=$1 file=$2 guid=$3 listed=$4
  run inspect "$(win "$file")"
  [ "$status" = 0 ] || { fail "$name: inspect exit code $status: $stderr"; return; }
  grep -qx "sha256: $(sha256sum "$file" | cut -d' ' -f1)" <<<"$stdout" || fail "$name: inspect's SHA-256 differs"
  case $file in *.exe) kind=EXE ;; *.msi) kind=MSI ;; *) kind=TAR ;; esac
  grep -qx "format: $kind" <<<"$stdout" || fail "$name: inspect's format is not $kind"
  if [ "$guid" != - ]; then
    grep -qxF "group: $guid ${group_path[$guid]}" <<<"$stdout" || fail "$name: inspect's group: $stdout"
  fi
  if [[ $file != *LINUX* ]]; then
    grep -q "^server-info record: CRC valid, Minimal $([[ $file == *rmtsetup* ]] && echo yes || echo no)" \
      <<<"$stdout" || fail "$name: inspect's record: $stdout"
  fi
  ! grep -q "settings problem" <<<"$stdout" || fail "$name: inspect finds problems: $stdout"
  # The same report as JSON: the same hash, group, record and files.
  local text=$stdout
  run inspect --json "$(win "$file")"
  [ "$status" = 0 ] || fail "$name: inspect --json exit code $status: $stderr"
  python3 -c 'import json, sys
r = json.loads(sys.argv[1]); text = sys.argv[2]
assert "sha256: " + r["sha256"] in text, "sha256"
assert "format: " + r["format"] in text, "format"
s = r["settings"]
if s["groupGuid"]: assert "group: %s %s" % (s["groupGuid"], s["groupPath"] or "(not known to this server)") in text, "group"
assert ("alternate address: %s" % (s["alternateAddress"] or "(none)")) in text, "address"
assert (r["record"] is None) == ("server-info record: (none)" in text), "record"
if r["record"]: assert ("CRC valid" in text) == r["record"]["crcValid"], "crc"
assert len(r["files"]) == text.count("\n  "), "files"' "$stdout" "$text" || fail "$name: inspect --json differs: $stdout"
  stdout=$text
  got=$(sed -n '/^files:$/,$p' <<<"$stdout" | tail -n +2 | sed 's/^  //; s/\t/ /; s| .*[\\/]| |' | sort)
  [ "$got" = "$(cat "$listed")" ] || fail "$name: inspect lists
$got
the independent tool
$(cat "$listed")"
}

# name | exit code | installer ("-": none) | group GUID in wsnode.ini | stderr must hold | arguments
cases=(
  "agent32|0|$out/wsnode32.exe|$eng|4162: Do you want to create password protected setup? -> no|--antivirus no --destination DEST --group Workstations\\Engineering"
  "av64 --yes|0|$out/wsnoav64.exe|$kli|3026: Creating client agent installer including Halvane will take some time.  Do you wish to continue? -> yes|--setup exe64 --destination DEST --group Büro~Zürich\\Клиенты --yes"
  "av32 no answer|3|-|-|3026: Creating client agent installer including Halvane will take some time.  Do you wish to continue? -> no answer given (--yes): stopped|--destination DEST"
  "minimal 90 days|0|$out/rmtsetup.exe|$dflt|rmtsetup.exe has been created successfully.|--package minimal --validity 90 --destination DEST"
  "password from env|0|$out/wsnode64.exe|$dflt|4162: Do you want to create password protected setup? -> yes|--setup exe64 --antivirus no --destination DEST --password-env CLI_PW"
  "msi32 by GUID with IP|0|$out/wsnode32.msi|$kli|3019: wsnode32.msi has been created successfully.|--setup msi32 --destination DEST --group $kli --ip 010.20.30.40"
  "msi64 domain|0|$out/wsnode64.msi|$dflt|3019: wsnode64.msi has been created successfully.|--setup msi64 --destination DEST --domain hes.example.org"
  "mac|0|$web/cnmac/MCWSNODE.TAR|$eng|118: MCWSNODE.TAR has been created successfully at|--platform mac --antivirus no --group Workstations\\Engineering"
  "mac again no answer|3|-|-|3144: Client Agent installer is already created, do you want to create it again? -> no answer given (--yes): stopped|--platform mac --antivirus no"
  "mac again --yes|0|$web/cnmac/MCWSNODE.TAR|$dflt|3144: Client Agent installer is already created, do you want to create it again? -> yes|--platform mac --antivirus no --yes"
  "linux64|0|$web/heslin64/LINUXWSNO64.TAR|-|has been created successfully at|--platform linux --setup 64"
  "missing destination|2|-|-|3017: Please specify a valid path.|--antivirus no --destination NOWHERE"
  "bad IP|2|-|-|4163: Please specify a valid IP Address.|--antivirus no --destination DEST --ip 300.1.2.3"
  "blank IP|2|-|-|4163: Please specify a valid IP Address.|--setup msi32 --destination DEST --ip 0.0.0.0"
  "IP cut short|2|-|-|4163: Please specify a valid IP Address.|--setup msi32 --destination DEST --ip 10.1.2"
  "IP before a bad destination|2|-|-|3017: Please specify a valid path.|--antivirus no --destination NOWHERE --ip 10.1.2.x"
  "bad domain|2|-|-|4164: Please specify a valid Domain Name.|--setup msi32 --destination DEST --domain bad~name"
  "short password|2|-|-|4160: Password must be between 6 and 18 characters.|--antivirus no --destination DEST --password-env CLI_SHORT"
  "password with space|2|-|-|121: The password can't contain space.|--antivirus no --destination DEST --password-env CLI_SPACE"
  "unset password variable|2|-|-|CLI_NONE is not set or empty|--antivirus no --destination DEST --password-env CLI_NONE"
  "password for an MSI|2|-|-|--password-env is not offered for an MSI|--setup msi32 --destination DEST --password-env CLI_PW"
  "unknown group|2|-|-|No group Workstations\\Nobody in the server's group tree|--destination DEST --group Workstations\\Nobody"
  "ambiguous group|2|-|-|More than one group has the path Twins|--destination DEST --group Twins"
  "unknown GUID|2|-|-|No group {00000000-0000-0000-0000-000000000000}|--destination DEST --group {00000000-0000-0000-0000-000000000000}"
  "bad platform|2|-|-|bad value for --platform: solaris|--platform solaris"
  "validity without minimal|2|-|-|--validity is not offered without the Minimal package|--validity 30 --destination DEST"
  "antivirus for linux|2|-|-|--antivirus is not offered for Linux|--platform linux --antivirus no"
  "setup with minimal|2|-|-|--setup is not offered with the Minimal package|--package minimal --setup exe64"
  "unknown option|2|-|-|unknown option --colour|--colour red"
  "repeated option|2|-|-|--setup is given twice|--setup exe32 --setup exe64"
  "option where a value belongs|2|-|-|--destination needs a value|--antivirus no --destination --yes"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name code installer guid message arguments <<<"$entry"
  echo "== $name"
  # Arguments are split on blanks; "~" stands for a blank inside one, DEST and NOWHERE for folders.
  read -r -a args <<<"$arguments"
  fixed=()
  for a in "${args[@]}"; do
    a=${a//\~/ }
    a=${a//DEST/$dest}
    fixed+=("${a//NOWHERE/$nowhere}")
  done
  before=$(cd "$out" && ls -A)
  run create "${fixed[@]}"
  [ "$status" = "$code" ] || fail "$name: exit code $status, expected $code: $stderr"
  grep -qF -- "$message" <<<"$stderr" || fail "$name: stderr lacks '$message': $stderr"
  if [ "$installer" = - ]; then
    [ "$(cd "$out" && ls -A)" = "$before" ] || fail "$name: the destination changed"
    [ -z "$stdout" ] || fail "$name: printed '$stdout'"
    continue
  fi
  [ "$stdout" = "$(win "$installer")" ] || [ "$(winepath -u "$stdout" 2>/dev/null)" -ef "$installer" ] ||
    fail "$name: printed '$stdout', not the installer"
  [ -s "$installer" ] || { fail "$name: no $installer"; continue; }
  x="$work/x_${name// /_}"
  mkdir -p "$x"
  case $installer in
    *.msi)
      (cd "$x" && msiinfo export "$installer" Binary >/dev/null)
      (cd "$x/Binary" && for f in *; do echo "$(stat -c %s "$f") ${f#Binary.}"; done) | sort >"$x/listed"
      iconv -f UTF-16 -t UTF-8 "$x/Binary/Binary.wsnode.ini" >"$x/settings" ;;
    *.exe)
      7zz t "$installer" >/dev/null || fail "$name: 7zz t fails"
      7zz l -slt "$installer" | tail -n +2 | awk '/^Path = /{p=substr($0,8)} /^Size = /{print substr($0,8) " " p}' |
        sed 's| .*[\\/]| |' | sort >"$x/listed"
      7zz e -y -o"$x" "$installer" wsnode.ini -r >/dev/null || fail "$name: cannot extract"
      iconv -f UTF-16 -t UTF-8 "$x/wsnode.ini" >"$x/settings" ;;
    *.TAR)
      tar -tvf "$installer" | awk '$1 !~ /^d/ {print $3 " " $NF}' | sed 's| .*/| |' | sort >"$x/listed"
      tar -xOf "$installer" --wildcards '*wsnode.ini' >"$x/raw"
      { iconv -f UTF-16 -t UTF-8 "$x/raw" 2>/dev/null || cat "$x/raw"; } >"$x/settings" ;;
  esac
  settings=$(tr -d '\r' <"$x/settings")
  inspect_against "$name" "$installer" "$guid" "$x/listed"
  if [ "$guid" != - ]; then
    grep -qxF "preset_group_id=$guid" <<<"$settings" || fail "$name: wsnode.ini lacks group $guid"
  fi
  case $name in
    *IP*) grep -qxF SERVER_IP=10.20.30.40 <<<"$settings" || fail "$name: no alternate address" ;;
    *domain*) grep -qxF SERVER_IP=hes.example.org <<<"$settings" || fail "$name: no alternate domain" ;;
    "password from env")
      grep -qx "password_fnv1a64=$(fnv "$CLI_PW")"$'\r' "$server/Tools/clPacker/64/pack.log" ||
        fail "$name: the packer did not get the password: $(cat "$server/Tools/clPacker/64/pack.log")" ;;
  esac
done
[ ! -e "$program/tmrovane.log" ] || fail "a trace log remains in the program folder"

# inspect on installers changed after the build: a Mac TAR unpacked, changed by python, packed
# again by GNU tar. A flipped record byte shows as a bad CRC; a settings file with a malformed
# line or a key given twice is reported line by line.
mac="$web/cnmac/MCWSNODE.TAR"
tampered() {  # tampered NAME PYTHON-ON-(settings, record): a changed copy of the Mac TAR
  local dir="$work/t_$1"
  mkdir -p "$dir" && tar -xf "$mac" -C "$dir"
  (cd "$dir" && python3 -c "import glob
s = glob.glob('**/wsnode.ini', recursive=True)[0]
r = glob.glob('**/rpinfo.dat', recursive=True)[0]
def add(path, extra):
    t = open(path, 'rb').read().decode('utf-16').lstrip('\\ufeff')
    open(path, 'wb').write(('\\ufeff' + t + extra).encode('utf-16-le'))
$2")
  (cd "$dir" && tar --format=gnu -cf "$work/$1.tar" *)
  echo "$work/$1.tar"
}
# name | python | exit code | stdout must hold
faults=(
  "flipped record byte|d = bytearray(open(r, 'rb').read()); d[100] ^= 1; open(r, 'wb').write(d)|0|server-info record: CRC INVALID"
  "flipped CRC byte|d = bytearray(open(r, 'rb').read()); d[5] ^= 0x80; open(r, 'wb').write(d)|0|server-info record: CRC INVALID"
  "record cut short|d = open(r, 'rb').read(); open(r, 'wb').write(d[:-1])|0|server-info record: damaged: 7362 bytes, not 7363"
  "duplicated key|add(s, '[SETTING]\\r\\npreset_group_id={1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C09}\\r\\n')|0|repeats the key preset_group_id of [SETTING]"
  "malformed line|add(s, 'no equals sign here\\r\\n')|0|settings problem: line"
)
for entry in "${faults[@]}"; do
  IFS='|' read -r name code_py code want <<<"$entry"
  echo "== inspect: $name"
  file=$(tampered "${name// /_}" "$code_py")
  run inspect "$(win "$file")"
  [ "$status" = "$code" ] || fail "inspect $name: exit code $status: $stderr"
  grep -qF -- "$want" <<<"$stdout" || fail "inspect $name: stdout lacks '$want': $stdout"
done
# The first of two keys stays what the profile functions read, and the report names it.
run inspect "$(win "$work/duplicated_key.tar")"
grep -qxF "group: $dflt Default" <<<"$stdout" || fail "inspect duplicated key: group $stdout"

# Files no reader can take whole: exit code 6, a message, nothing on standard output.
head -c 3000 /dev/urandom >"$work/noise.bin"
head -c 5000 "$mac" >"$work/cut.tar"
head -c 300000 "$out/wsnode32.exe" >"$work/cut.exe"
head -c 4096 "$out/wsnode32.msi" >"$work/cut.msi"
printf 'MZ but nothing else' >"$work/mz.exe"
for file in noise.bin cut.tar cut.exe cut.msi mz.exe missing.exe; do
  echo "== inspect unreadable: $file"
  run inspect "$(win "$work/$file")"
  [ "$status" = 6 ] || fail "inspect $file: exit code $status, expected 6"
  [ -z "$stdout" ] || fail "inspect $file: a partial report: $stdout"
  grep -q '^tmrovane inspect: ' <<<"$stderr" || fail "inspect $file: no message: $stderr"
done
[ -z "$(find "$WINEPREFIX/drive_c/users" -maxdepth 5 -name 'tmrovane-inspect-*' 2>/dev/null)" ] ||
  fail "inspect left its 7-Zip folder behind"

# The tree as the group dialog shows it: root, then each group indented, with path and GUID.
run groups
[ "$status" = 0 ] || fail "groups: exit code $status: $stderr"
want="HES Console
  Default	Default	$dflt
  Workstations	Workstations	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C05}
    Engineering	Workstations\\Engineering	$eng
  Büro Zürich	Büro Zürich	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C09}
    Клиенты	Büro Zürich\\Клиенты	$kli
  Twins	Twins	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C11}
  Twins	Twins	{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C12}"
[ "$stdout" = "$want" ] || fail "groups printed:
$stdout"

run groups --json
python3 -c 'import json, sys
r = json.loads(sys.argv[1])
assert r["root"] == "HES Console"
assert [g["path"] for g in r["groups"]][3:5] == ["Büro Zürich", "Büro Zürich\\Клиенты"], r
assert r["groups"][4] == {"name": "Клиенты", "path": "Büro Zürich\\Клиенты", "depth": 1,
                          "guid": "{1A2B3C4D-5E6F-4A1B-8C2D-3E4F5A6B7C10}"}, r["groups"][4]' "$stdout" ||
  fail "groups --json: $status $stdout"

# create --json: what was built, where, and the SHA-256 that sha256sum computes.
run create --json --platform linux --setup 32 --yes
python3 -c 'import json, sys, hashlib, subprocess
r = json.loads(sys.argv[1])
assert r["built"] is True and r["kind"] == "Linux32", r
path = subprocess.check_output(["winepath", "-u", r["installer"]], text=True).strip()
assert hashlib.sha256(open(path, "rb").read()).hexdigest() == r["sha256"], r' "$stdout" ||
  fail "create --json: $status $stdout $stderr"

# Every outcome answers as JSON: a refusal with the ID and text of the message that ended it.
run create --json --antivirus no --destination "$nowhere"
python3 -c 'import json, sys
r = json.loads(sys.argv[1])
assert r == {"built": False, "outcome": "refused", "messageId": 3017, "message": "Please specify a valid path."}, r' \
  "$stdout" && [ "$status" = 2 ] || fail "create --json refused: $status $stdout $stderr"
run create --json --destination --yes
python3 -c 'import json, sys
r = json.loads(sys.argv[1])
assert r["built"] is False and r["outcome"] == "refused" and r["messageId"] is None, r
assert "--destination needs a value" in r["message"], r' "$stdout" && [ "$status" = 2 ] ||
  fail "create --json usage error: $status $stdout $stderr"

run create --help
[ "$status" = 0 ] && grep -q '^  --destination FOLDER' <<<"$stdout" || fail "create --help: $status $stdout"
run --help
[ "$status" = 0 ] && grep -q '^  3  a question had no answer' <<<"$stdout" || fail "--help: $status $stdout"
run frobnicate
[ "$status" = 2 ] && grep -q 'unknown command frobnicate' <<<"$stderr" || fail "unknown command: $status"

[ $failures = 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all rows passed"
