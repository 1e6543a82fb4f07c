#!/bin/sh
# Checks the scheduled tasks' XML that the build made: each task against the Task Scheduler
# schema (the subset written out in this folder), the plug-in task's event query against the
# query schema and the event log's XPath, and that the schema check has teeth: copies broken
# the ways a hand edit breaks them must fail it.
#
#   task_xml_test.sh <folder of the .xsd files> <folder of the task XML>
#
# Exits 77 (skipped) when xmllint (Debian package libxml2-utils) is missing.
set -u
schemas="$1"
tasks="$2"
command -v xmllint >/dev/null 2>&1 || { echo "xmllint not found: skipped"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}
task_valid() {
    xmllint --noout --schema "$schemas/task_scheduler_subset.xsd" "$1" 2>"$work/log"
}

for task in "$tasks"/*.xml; do
    task_valid "$task" || { fail "$task"; cat "$work/log"; }
done

# The subscription is a query list in the trigger's text. The event log takes a subset of
# XPath: of the functions only position(), Band() and timediff(); no contains(), no
# starts-with().
xmllint --xpath 'string(//*[local-name()="Subscription"])' "$tasks/plug-in.xml" >"$work/query.xml"
xmllint --noout --schema "$schemas/event_query_subset.xsd" "$work/query.xml" 2>"$work/log" ||
    { fail "the plug-in task's event query"; cat "$work/log"; }
functions="$(xmllint --xpath 'string(//Select)' "$work/query.xml" |
    grep -o '[A-Za-z][A-Za-z-]*(' | grep -v -x -e 'position(' -e 'Band(' -e 'timediff(')"
[ -z "$functions" ] || fail "the event log's XPath has no $functions)"

# Broken copies of the plug-in task: the elements of a trigger out of their order, actions run
# for a principal the task does not have, a setting misspelt.
must_fail() {
    what="$1"
    shift
    "$@" <"$tasks/plug-in.xml" >"$work/broken.xml"
    ! task_valid "$work/broken.xml" || fail "the schema accepts a task with $what"
}
must_fail "Delay before Subscription" \
    awk '/<Subscription>/ { held = $0; next } { print } /<Delay>/ { print held }'
must_fail "an unknown Context" sed 's/Context="[^"]*"/Context="Nobody"/'
must_fail "a misspelt setting" sed 's/StopIfGoingOnBatteries>/StopIfGoingOnBattery>/g'

[ "$failed" -eq 0 ] && echo "task XML checked"
exit "$failed"
