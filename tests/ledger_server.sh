#!/usr/bin/env bash
# The tests' own PostgreSQL server: start STATE makes a cluster in a new
# temporary folder (scram-sha-256 for every connection, no TCP port, its
# Unix socket in that folder) and starts it; STATE, a folder of the build,
# then holds conninfo (the server's maintenance database, for libpq),
# pgpass (its superuser's password, for PGPASSFILE) and where (the
# cluster's folder). run STATE COMMAND... runs COMMAND with
# VELDCONF_TEST_LEDGER and PGPASSFILE naming the server. stop STATE stops
# it and removes both. initdb refuses to run as root: as root, the cluster
# is the postgres user's.
set -euo pipefail
command=$1
state=$2

bin_dir() {
    if command -v initdb >/dev/null; then dirname "$(command -v initdb)"; return; fi
    local newest
    newest=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    [ -n "$newest" ] || { echo "no initdb: install postgresql (tools/deps.sh)" >&2; exit 1; }
    echo "$newest"
}
as_owner() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case $command in
start)
    bin=$(bin_dir)
    [ -f "$state/where" ] && "$0" stop "$state"
    rm -rf "$state"
    mkdir -p "$state"
    cluster=$(mktemp -d /tmp/veldconf-ledger.XXXXXX)
    chmod 755 "$cluster"
    password=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    printf '%s\n' "$password" >"$cluster/password"
    [ "$(id -u)" -eq 0 ] && chown -R postgres: "$cluster"
    echo "$cluster" >"$state/where"
    as_owner "$bin/initdb" -D "$cluster/data" -A scram-sha-256 -U postgres --pwfile="$cluster/password" \
        -E UTF8 --no-sync >"$cluster/initdb.log"
    # In its configuration, so that a case that stops its server starts it
    # again as it was.
    printf "listen_addresses = ''\nunix_socket_directories = '%s'\nfsync = off\nmax_connections = 60\n" \
        "$cluster" | as_owner tee -a "$cluster/data/postgresql.conf" >/dev/null
    as_owner "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -s start
    echo "host=$cluster port=5432 user=postgres dbname=postgres" >"$state/conninfo"
    printf '*:*:*:postgres:%s\n' "$password" >"$state/pgpass"
    chmod 600 "$state/pgpass"
    ;;
run)
    shift 2
    VELDCONF_TEST_LEDGER=$(cat "$state/conninfo") PGPASSFILE=$state/pgpass exec "$@"
    ;;
stop)
    [ -f "$state/where" ] || exit 0
    cluster=$(cat "$state/where")
    as_owner "$(bin_dir)/pg_ctl" -D "$cluster/data" -m immediate -s stop || true
    rm -rf "$cluster" "$state"
    ;;
*)
    echo "usage: $0 start|stop STATE, or run STATE COMMAND..." >&2
    exit 2
    ;;
esac
