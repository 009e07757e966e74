# shellcheck shell=bash
# A real static web server for files a launcher fetches as a hosting site would serve them: Debian's
# nginx (nginx-light), run as the current user on a 127.0.0.1 port, serving URL prefixes from
# folders, with keep-alive and byte ranges, optionally paced per connection and passing every other
# path to another server. Everything it writes (configuration, pid, temporary files, logs) stays in
# a folder of the caller's. Its access log has one line per request:
#   CONNECTION REQUEST_ON_CONNECTION STATUS BODY_BYTES "REQUEST LINE"
# from which static_server_summary counts requests, connections and body bytes sent.
# Sourced by scripts and tests.
source "$(dirname "${BASH_SOURCE[0]}")/waiting.sh"

static_server_program=${STATIC_SERVER_NGINX:-/usr/sbin/nginx}

# Starts nginx in folder $1 listening on 127.0.0.1:$2, then returns once it listens. Options:
#   --rate RATE      limit_rate of each response, so of each keep-alive connection (nginx's units: 10m)
#   --rest URL       pass every path not served from a folder to the server at URL (nothing else
#                    answers 404)
# then pairs of URL prefix and folder: PREFIX (starting and ending with /) is served from FOLDER.
# The folders hold content-addressed or never-rewritten files, so they are served as immutable.
# An instance left running in the same folder is stopped first.
static_server_start() {
    local folder port rate='' rest=''
    folder=$(realpath -m "$1")
    port=$2
    shift 2
    while [ $# -gt 0 ]; do
        case $1 in
        --rate) rate=$2 && shift 2 ;;
        --rest) rest=$2 && shift 2 ;;
        *) break ;;
        esac
    done
    if [ $# -eq 0 ] || [ $(($# % 2)) -ne 0 ]; then
        echo "static_server_start: give pairs of URL prefix and folder" >&2
        return 1
    fi
    [ -x "$static_server_program" ] || {
        echo "static_server_start: no $static_server_program (scripts/setup installs nginx-light)" >&2
        return 1
    }
    static_server_stop "$folder"
    mkdir -p "$folder/temp"
    rm -f "$folder/access.log" "$folder/error.log"
    static_server_config "$folder" "$port" "$rate" "$rest" "$@" >"$folder/nginx.conf" || return 1
    # nginx returns once its master has bound the port and gone into the background.
    "$static_server_program" -p "$folder" -c "$folder/nginx.conf" -e "$folder/error.log" 2>/dev/null || {
        echo "static_server_start: nginx did not start on 127.0.0.1:$port:" >&2
        cat "$folder/error.log" >&2
        return 1
    }
    wait_for 10 test -s "$folder/nginx.pid" || {
        echo "static_server_start: nginx wrote no pid file in $folder" >&2
        return 1
    }
}

# Prints the configuration of static_server_start's arguments: folder, port, rate, rest, pairs.
static_server_config() {
    local folder=$1 port=$2 rate=$3 rest=$4
    shift 4
    # Run as the current user: as root nginx would otherwise hand its workers to "nobody".
    [ "$(id -u)" -ne 0 ] || echo "user $(id -un) $(id -gn);"
    cat <<EOF
daemon on;
worker_processes 1;
pid $folder/nginx.pid;
error_log $folder/error.log warn;
events { worker_connections 512; }
http {
    log_format counted '\$connection \$connection_requests \$status \$body_bytes_sent "\$request"';
    access_log $folder/access.log counted;
    client_body_temp_path $folder/temp/body;
    proxy_temp_path $folder/temp/proxy;
    fastcgi_temp_path $folder/temp/fastcgi;
    uwsgi_temp_path $folder/temp/uwsgi;
    scgi_temp_path $folder/temp/scgi;
    default_type application/octet-stream;
    server_tokens off;
    sendfile on;
    tcp_nopush on;
    # A store install asks for thousands of ranges on a few connections: never close one for
    # having served too many.
    keepalive_timeout 60s;
    keepalive_requests 1000000;
${rate:+    limit_rate $rate;}
    server {
        listen 127.0.0.1:$port;
        server_name _;
EOF
    while [ $# -gt 0 ]; do
        local prefix=$1 served
        served=$(realpath -m "$2")
        shift 2
        [[ $prefix == /*/ ]] || {
            echo "static_server_start: the URL prefix '$prefix' must start and end with /" >&2
            return 1
        }
        cat <<EOF
        location ^~ $prefix {
            alias $served/;
            add_header Cache-Control "public, max-age=31536000, immutable";
        }
EOF
    done
    if [ -n "$rest" ]; then
        # Unbuffered, so the other server's pacing and a client's abort reach it as they happen.
        cat <<EOF
        location / {
            proxy_pass $rest;
            proxy_buffering off;
            proxy_request_buffering off;
            proxy_read_timeout 120s;
        }
EOF
    else
        echo "        location / { return 404; }"
    fi
    echo "    }"
    echo "}"
}

# Stops the nginx of folder $1 (by the process id in its pid file) and waits until it is gone.
static_server_stop() {
    local folder=$1 pid
    pid=$(cat "$folder/nginx.pid" 2>/dev/null) || return 0
    # Only our own: the process must be an nginx master reading this folder's configuration.
    if [ -n "$pid" ] && grep -qF -- "$folder/nginx.conf" "/proc/$pid/cmdline" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        wait_for 10 static_server_exited "$pid" || echo "static_server_stop: nginx $pid did not stop" >&2
    fi
    rm -f "$folder/nginx.pid"
}

# Succeeds once process $1 has exited. The master went into the background, so it is not our child
# and may stay a zombie, holding nothing, until init reaps it.
static_server_exited() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 0
    [ -z "$state" ] || [ "$state" = Z ]
}

# Prints how many lines the access log of folder $1 has: a mark for static_server_summary --since.
static_server_mark() {
    if [ -f "$1/access.log" ]; then wc -l <"$1/access.log"; else echo 0; fi
}

# Prints "requests=N connections=N bytes=N" for the access log of folder $1: the requests, the
# connections they came on and the body bytes sent (all of a response, or what went out before the
# client went away). Options: --since MARK counts only lines after a mark; --prefix PATH counts only
# requests for paths starting with PATH.
static_server_summary() {
    local folder=$1 since=0 prefix=
    shift
    while [ $# -gt 0 ]; do
        case $1 in
        --since) since=$2 && shift 2 ;;
        --prefix) prefix=$2 && shift 2 ;;
        *)
            echo "static_server_summary: unknown option $1" >&2
            return 1
            ;;
        esac
    done
    # Not a pipe: tail's output is read whole, and a missing log counts nothing.
    awk -v prefix="$prefix" '
        index($6, prefix) == 1 { requests++; bytes += $4; if (!($1 in seen)) { seen[$1] = 1; connections++ } }
        END { printf "requests=%d connections=%d bytes=%.0f\n", requests, connections, bytes }
    ' < <(tail -n +$((since + 1)) "$folder/access.log" 2>/dev/null)
}
