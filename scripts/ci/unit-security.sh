#!/usr/bin/env bash
# Scores the servers' systemd units offline (no running systemd needed) and
# fails when one's exposure is above 2.0, systemd's "OK".
set -euo pipefail
cd "$(dirname "$0")/../.."

bash scripts/install-packages.sh systemd
limit=2.0
for unit in packaging/kestrane-scpid.service packaging/kestrane-epics.service; do
    report=$(systemd-analyze security --offline=yes --no-pager "$unit" 2>&1) || {
        echo "$report" >&2
        echo "unit-security.sh: systemd-analyze could not score $unit" >&2
        exit 1
    }
    score=$(sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\).*$/\1/p' <<<"$report")
    if [[ -z $score ]]; then
        echo "$report" >&2
        echo "unit-security.sh: no exposure level in the report" >&2
        exit 1
    fi
    if awk -v score="$score" -v limit="$limit" 'BEGIN { exit !(score > limit) }'; then
        grep '✗' <<<"$report" >&2 || true
        echo "unit-security.sh: $unit exposure $score is above $limit" >&2
        exit 1
    fi
    echo "unit-security.sh: $unit exposure $score (at most $limit)"
done
