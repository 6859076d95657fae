#!/bin/sh
# The main job: builds the programs, starts the development server on the sample files,
# lists customer ACME's files, downloads the current ledger and checks it against the
# original, then stops the server.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" build
bin="$root/build"
demo="$root/build/demo"
rm -rf "$demo"
python3 "$root/samples/make-samples.py" "$demo/samples" >/dev/null
mkdir -p "$demo/downloads"
port=${ZYMBDEMOPORT:-5000}

"$bin/devserver/zymb-devserver" --data "$demo/samples/data" --users "$demo/samples/users" \
    --port "$port" >"$demo/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT INT TERM
i=0
until grep -q listening "$demo/server.log" 2>/dev/null; do
    i=$((i + 1)); [ $i -lt 100 ] || { cat "$demo/server.log"; exit 1; }; sleep 0.1
done

logon="batch:$demo/samples/pw/batch@127.0.0.1:$port"
echo "== The files of customer ACME"
"$bin/download/ZYMB10DownloadFile" -C ACME -f '*' -l -S "$logon" 2>"$demo/list.log"
echo "== Downloading the newest ledger.txt (log in $demo/download.log)"
cd "$demo/downloads"
"$bin/download/ZYMB10DownloadFile" -C ACME -f 'ledger*' -i 1 -S "$logon" 2>"$demo/download.log"
cmp "$demo/downloads/ledger.txt" "$demo/samples/originals/ledger.txt"
echo "== $demo/downloads/ledger.txt equals the original, byte for byte"
