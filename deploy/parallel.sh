#!/usr/bin/env bash
# Splits one `kestrix batch` over several hosts with GNU parallel: shard
# 0 .. SHARDS-1, each run on whichever host has a free slot. Every host must
# see FOLDER (and the output folder) at the same path, for example on NFS.
#
#   HOSTS=4/alpha,4/beta,4/gamma SHARDS=12 deploy/parallel.sh \
#       /srv/photos --recursive --output /srv/thumbs --skip-existing --max-width 640 -j 1
#
# HOSTS   parallel's --sshlogin list ("N/host": at most N shards at once on
#         host; ":" is this machine). Default ":".
# SHARDS  how many shards to cut the library into; more shards than hosts
#         balance the load better. Default: the number of hosts.
# KESTRIX the program to run on every host. Default "kestrix".
#
# Options after FOLDER go to every shard unchanged; "{}" in them becomes the
# shard number (--json /srv/reports/shard-{}.jsonl). A shard that fails is
# tried once more (with --skip-existing that redoes only what is missing);
# the exit status is the number of shards that failed in the end.
set -euo pipefail
[[ $# -ge 1 ]] || { sed -n '2,18s/^# \{0,1\}//p' "$0" >&2; exit 2; }
hosts=${HOSTS:-:}
IFS=, read -r -a list <<< "$hosts"
shards=${SHARDS:-${#list[@]}}
exec parallel --quote --sshlogin "$hosts" --retries 2 --tag --line-buffer \
    "${KESTRIX:-kestrix}" batch "$@" --shard "{}/$shards" ::: $(seq 0 $((shards - 1)))
