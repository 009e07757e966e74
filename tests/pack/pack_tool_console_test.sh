#!/usr/bin/env bash
# gatehouse-pack as an operator runs it: a packed folder passes Info-ZIP's own test, lists in
# name order and stores only what deflate cannot shrink; `check` accepts it and refuses a hand-made
# archive naming the rule and the entry; a manifest signed by `publish` with a `keygen` key and
# signed again by `renew` verifies with OpenSSL, and renew refuses another key's; publish names where
# an offered launcher build looks for updates; publish --store, check --store and prune report on a
# content store; with --json every command prints one JSON object and nothing else on stdout;
# Ctrl+C leaves no file behind; wrong usage exits 2 with the usage text, which lists every exit code.
set -euo pipefail
build=${1:?usage: pack_tool_console_test.sh BUILD_DIR}
source "$(dirname "$0")/../../scripts/lib/wine-prefix.sh"
source "$(dirname "$0")/../../scripts/lib/waiting.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/pack-tool-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
tool() { "$build/wine-run" "$build/gatehouse-pack.exe" "$@"; }

python3 - "$work/client" <<'PY'
import os, random, sys
root = sys.argv[1]
data = os.path.join(root, "TalvoPC", "talvo-曜石纪元_Data")
os.makedirs(os.path.join(data, "空目录"))
rng = random.Random(7)
files = {
    "TalvoPC/talvo-曜石纪元.exe": b"MZ game",
    "TalvoPC/UnityPlayer.dll": b"MZ player" * 1000,
    "TalvoPC/talvo-曜石纪元_Data/empty.bin": b"",
    "TalvoPC/talvo-曜石纪元_Data/noise.assets": rng.randbytes(5 << 20),
    "TalvoPC/talvo-曜石纪元_Data/text.json": b'{"item": 1, "name": "x"}\n' * 250000,
}
for name, content in files.items():
    with open(os.path.join(root, name), "wb") as out:
        out.write(content)
PY

tool pack "$(windows_path "$work/client")" "$(windows_path "$work/out.zip")" --executable 'TalvoPC/talvo-曜石纪元.exe' \
    --version 1 --threads 2 >"$work/pack.out" 2>"$work/pack.err" || fail "pack: $(cat "$work/pack.err")"
digest=$(sha256sum "$work/out.zip" | cut -d' ' -f1)
grep -qi "sha256:  $digest" "$work/pack.out" || fail "pack did not print the package's digest: $(cat "$work/pack.out")"
[ -z "$(ls "$work" | grep partial || true)" ] || fail "a partial file was left"

LC_ALL=C.UTF-8 unzip -tq "$work/out.zip" >"$work/unzip.out" || fail "unzip -t: $(cat "$work/unzip.out")"
LC_ALL=C.UTF-8 unzip -Z1 "$work/out.zip" >"$work/names"
cat >"$work/expected" <<'NAMES'
TalvoPC/
TalvoPC/UnityPlayer.dll
TalvoPC/talvo-曜石纪元.exe
TalvoPC/talvo-曜石纪元_Data/
TalvoPC/talvo-曜石纪元_Data/empty.bin
TalvoPC/talvo-曜石纪元_Data/noise.assets
TalvoPC/talvo-曜石纪元_Data/text.json
TalvoPC/talvo-曜石纪元_Data/空目录/
NAMES
diff "$work/expected" "$work/names" || fail "entries differ from the folder in name order"
python3 - "$work/out.zip" <<'PY' || fail "the noise must be stored and the text deflated"
import sys, zipfile
methods = {item.filename: item.compress_type for item in zipfile.ZipFile(sys.argv[1]).infolist()}
data = "TalvoPC/talvo-曜石纪元_Data/"
sys.exit(methods[data + "noise.assets"] != zipfile.ZIP_STORED or methods[data + "text.json"] != zipfile.ZIP_DEFLATED)
PY

tool check "$(windows_path "$work/out.zip")" >"$work/check.out" 2>&1 || fail "check: $(cat "$work/check.out")"
grep -q "^OK .* 8 entries" "$work/check.out" || fail "check summary: $(cat "$work/check.out")"

python3 - "$work/hostile.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as archive:
    archive.writestr("TalvoPC/talvo-曜石纪元.exe", b"MZ")
    archive.writestr("TalvoPC/Aux.dll", b"MZ")
PY
status=0
tool check "$(windows_path "$work/hostile.zip")" >"$work/hostile.out" 2>"$work/hostile.err" || status=$?
[ "$status" -eq 1 ] || fail "check of a hostile archive exited $status"
grep -qx "  rule:     entry-path-device-name" "$work/hostile.err" || fail "rule not named: $(cat "$work/hostile.err")"
grep -qx "  entry:    TalvoPC/Aux.dll" "$work/hostile.err" || fail "refused entry not named: $(cat "$work/hostile.err")"
grep -qx '  actual:   "Aux.dll"' "$work/hostile.err" || fail "refused name not shown: $(cat "$work/hostile.err")"

tool keygen "$(windows_path "$work/update-key.json")" >"$work/keygen.out" 2>/dev/null || fail "keygen failed"
public=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["publicKey"])' "$work/update-key.json")
grep -q -- "-DLAUNCHER_UPDATE_PUBLIC_KEY=$public$" "$work/keygen.out" || fail "keygen output: $(cat "$work/keygen.out")"
tool publish "$(windows_path "$work/out.zip")" --key "$(windows_path "$work/update-key.json")" \
    --manifest "$(windows_path "$work/update.signed")" --executable 'TalvoPC/talvo-曜石纪元.exe' --version 2 \
    --url https://download.example.com/TalvoPC.zip >"$work/publish.out" 2>&1 || fail "publish: $(cat "$work/publish.out")"
grep -q "^sequence: 1$" "$work/publish.out" || fail "publish output: $(cat "$work/publish.out")"
tool renew --key "$(windows_path "$work/update-key.json")" --manifest "$(windows_path "$work/update.signed")" \
    >"$work/renew.out" 2>&1 || fail "renew: $(cat "$work/renew.out")"
grep -q "^sequence: 2$" "$work/renew.out" || fail "renew output: $(cat "$work/renew.out")"
# The signed manifest is the signature's line, then the manifest's bytes. The key and signature texts
# are X‖Y and r‖s; OpenSSL wants them in DER.
python3 - "$work" "$public" <<'PY'
import base64, sys
work, public = sys.argv[1], sys.argv[2]
def integer(value):
    value = value.lstrip(b"\0")
    value = b"\0" + value if value[0] & 0x80 else value
    return b"\x02" + bytes([len(value)]) + value
line, manifest = open(f"{work}/update.signed", "rb").read().split(b"\n", 1)
open(f"{work}/update.json", "wb").write(manifest)
signature = bytes.fromhex(line.decode())
body = integer(signature[:32]) + integer(signature[32:])
open(f"{work}/signature.der", "wb").write(b"\x30" + bytes([len(body)]) + body)
key = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d03010703420004" + public)
pem = base64.encodebytes(key).decode()
open(f"{work}/public.pem", "w").write(f"-----BEGIN PUBLIC KEY-----\n{pem}-----END PUBLIC KEY-----\n")
PY
openssl dgst -sha256 -verify "$work/public.pem" -signature "$work/signature.der" "$work/update.json" >/dev/null ||
    fail "OpenSSL does not verify the renewed manifest"
status=0
tool renew --key "$(windows_path "$(cd "$(dirname "$0")/../.." && pwd)/tools/demo-update-key.json")" \
    --manifest "$(windows_path "$work/update.signed")" >/dev/null 2>"$work/renew.err" || status=$?
[ "$status" -eq 1 ] || fail "renew with another key exited $status"

# A launcher build offered alongside: publish reads the build and says where it looks for updates.
demo_key=$(cd "$(dirname "$0")/../.." && pwd)/tools/demo-update-key.json
tool publish "$(windows_path "$work/out.zip")" --key "$(windows_path "$demo_key")" --manifest "$(windows_path "$work/offer.signed")" \
    --executable 'TalvoPC/talvo-曜石纪元.exe' --version 2 --url https://download.example.com/TalvoPC.zip \
    --launcher "$(windows_path "$build/update-demo-next/Gatehouse.exe")" --launcher-version 99.0.0.0 \
    --launcher-url https://download.example.com/Gatehouse.exe >"$work/offer.out" 2>&1 || fail "publish --launcher: $(cat "$work/offer.out")"
grep -q "looks for its updates at http://.*/K3ClientRes/exe/TalvoPC/update/manifest.signed$" "$work/offer.out" ||
    fail "publish did not name the offered build's manifest address: $(cat "$work/offer.out")"

# --json: one object on stdout, whatever the command and however it ends. Each row: the expected
# exit code, a Python condition on the object `o`, then the command line.
json_case() {
    local status=0 expected=$1 condition=$2
    shift 2
    tool "$@" --json >"$work/json.out" 2>"$work/json.err" || status=$?
    [ "$status" -eq "$expected" ] || fail "$1 --json exited $status: $(cat "$work/json.err")"
    python3 - "$work/json.out" "$expected" "$condition" <<'PY' || fail "$1 --json printed: $(cat "$work/json.out")"
import json, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
assert len(lines) == 1, lines
o = json.loads(lines[0])
assert o["exitCode"] == int(sys.argv[2]) and o["ok"] == (o["exitCode"] == 0), o
assert eval(sys.argv[3]), o
PY
}
json_case 0 'o["command"] == "pack" and o["entries"] == 8 and o["config"] is None and len(o["sha256"]) == 64' \
    pack "$(windows_path "$work/client")" "$(windows_path "$work/json.zip")" --executable 'TalvoPC/talvo-曜石纪元.exe' --version 1
json_case 0 'o["command"] == "check" and o["sha256"] == "'"${digest^^}"'"' check "$(windows_path "$work/out.zip")"
json_case 0 'o["publicKey"] and "warnings" in o' keygen "$(windows_path "$work/json-key.json")"
json_case 0 'o["sequence"] == 1 and o["clientPackage"]["version"] == "3"' \
    publish "$(windows_path "$work/out.zip")" --key "$(windows_path "$work/json-key.json")" \
    --manifest "$(windows_path "$work/json-update.json")" --executable 'TalvoPC/talvo-曜石纪元.exe' --version 3 \
    --url https://download.example.com/TalvoPC.zip
json_case 0 'o["command"] == "renew" and o["sequence"] == 2' \
    renew --key "$(windows_path "$work/json-key.json")" --manifest "$(windows_path "$work/json-update.json")"
# A content store beside the manifest: publish says what to upload and names the index in the
# manifest, check finds the package's index in the store, prune lists what it would remove.
json_case 0 '(o["store"]["newChunks"] == o["store"]["chunks"] > 1 and o["store"]["upload"][-1] == "indexes/" +
    o["store"]["index"]["sha256"] + ".index" and o["clientPackage"]["index"]["url"] ==
    "https://cdn.example.com/store/" + o["store"]["upload"][-1])' \
    publish "$(windows_path "$work/out.zip")" --key "$(windows_path "$work/json-key.json")" \
    --manifest "$(windows_path "$work/store.signed")" --executable 'TalvoPC/talvo-曜石纪元.exe' --version 4 \
    --url https://download.example.com/TalvoPC.zip --store "$(windows_path "$work/store")" \
    --store-url https://cdn.example.com/store/
json_case 0 'o["store"]["indexes"][0]["files"] == 5 and o["store"]["indexes"][0]["version"] == "4"' \
    check "$(windows_path "$work/out.zip")" --store "$(windows_path "$work/store")"
json_case 0 'o["dryRun"] and o["removed"] == [] and len(o["kept"]) == 1' \
    prune --store "$(windows_path "$work/store")" --keep "$(windows_path "$work/store.signed")" --dry-run
json_case 1 'o["refusal"]["rule"] == "entry-path-device-name" and o["refusal"]["subject"] == "TalvoPC/Aux.dll"' \
    check "$(windows_path "$work/hostile.zip")"
json_case 1 'o["refusal"]["rule"] == "key-file-exists" and o["refusal"]["subjectKind"] == "file"' \
    keygen "$(windows_path "$work/json-key.json")"
json_case 2 'o["command"] == "pack" and o["refusal"]["rule"] == "usage"' pack "$(windows_path "$work/client")"

# Ctrl+C while packing: the tool stops, says so, and leaves neither the package nor a partial file.
python3 - "$work/client/TalvoPC/talvo-曜石纪元_Data" <<'PY'
import os, sys
letters = bytes.maketrans(bytes(range(256)), b"abcdefghijklmnop" * 16)
for index in range(8):
    with open(os.path.join(sys.argv[1], f"slow{index}.assets"), "wb") as out:
        out.write(os.urandom(8 << 20).translate(letters))
PY
# Started directly, not through `tool`: wine-run execs Wine, so $! is the tool's own process. (Looking
# the process up by its command line could find another run's pack when two run at once.)
"$build/wine-run" "$build/gatehouse-pack.exe" pack "$(windows_path "$work/client")" "$(windows_path "$work/interrupted.zip")" \
    --executable 'TalvoPC/talvo-曜石纪元.exe' --version 1 --threads 2 >/dev/null 2>"$work/interrupt.err" &
pack=$!
wait_for 30 grep -q . "$work/interrupt.err" || true
grep -qaF "$(windows_path "$work/interrupted.zip")" "/proc/$pack/cmdline" 2>/dev/null ||
    fail "pack finished before it could be interrupted"
kill -INT "$pack"
status=0
wait "$pack" || status=$?
[ "$status" -eq 130 ] || fail "interrupted pack exited $status: $(cat "$work/interrupt.err")"
grep -q "操作已取消" "$work/interrupt.err" || fail "no word of the interruption: $(cat "$work/interrupt.err")"
[ -z "$(ls "$work" | grep interrupted || true)" ] || fail "an interrupted pack left $(ls "$work" | grep interrupted)"

status=0
tool pack "$(windows_path "$work/client")" >/dev/null 2>"$work/usage.err" || status=$?
[ "$status" -eq 2 ] || fail "wrong usage exited $status"
grep -q "gatehouse-pack pack CLIENT_DIR" "$work/usage.err" || fail "no usage text: $(cat "$work/usage.err")"
tool --help >"$work/help.out" || fail "--help failed"
grep -qx "Exit codes: 0 done, 1 refused (or failed), 2 wrong usage, 130 interrupted (Ctrl+C)." "$work/help.out" ||
    fail "--help does not list the exit codes: $(cat "$work/help.out")"
status=0
tool publish "$(windows_path "$work/out.zip")" --key k --manifest m --executable e --version 3 --url https://x/p.zip \
    --launcher "$(windows_path "$work/out.zip")" >/dev/null 2>"$work/usage.err" || status=$?
[ "$status" -eq 2 ] || fail "--launcher alone exited $status"
status=0
tool renew --key k >/dev/null 2>"$work/usage.err" || status=$?
[ "$status" -eq 2 ] || fail "renew without --manifest exited $status"
echo "pack tool console test passed"
