#!/bin/sh
# Runs a test in a network namespace of its own with only its loopback, up, for tests that serve
# the program's fixed ports (the API's 12345, the web panel's 8090..8099): they find them free
# whatever else runs on this machine, the program itself included, and reach nothing beyond it.
# Where no namespace can be made (not root, no `ip`), the test runs as it is.
#
#     ownnetwork.sh <command> [arguments...]
ip=$(PATH=/usr/sbin:/sbin:$PATH command -v ip)
if [ -n "$ip" ] && unshare -n true 2>/dev/null; then
    exec unshare -n sh -c '"$0" link set lo up && exec "$@"' "$ip" "$@"
fi
exec "$@"
