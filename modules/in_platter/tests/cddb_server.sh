#!/usr/bin/env bash
# cddb_server.sh start|stop DIR: runs the tests' CD database server in the
# background (it stops by itself after a few minutes) or stops it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
dir=$2
case $1 in
start)
    mkdir -p "$dir"
    rm -f "$dir/ports.txt" "$dir"/*.request
    setsid python3 "$here/cddb_server.py" "$dir" </dev/null >"$dir/server.log" 2>&1 &
    for _ in $(seq 100); do
        [ -f "$dir/ports.txt" ] && exit 0
        sleep 0.1
    done
    echo "the CD database server did not start" >&2
    cat "$dir/server.log" >&2
    exit 1
    ;;
stop)
    port=$(awk '$1 == "control" { print $2 }' "$dir/ports.txt" 2>/dev/null || true)
    [ -n "$port" ] && python3 -c "import socket,sys; s=socket.create_connection(('127.0.0.1', int(sys.argv[1])), 2); s.sendall(b'GET /quit HTTP/1.0\r\n\r\n'); s.close()" "$port" || true
    ;;
esac
