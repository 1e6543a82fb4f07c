# CPU time of a process and of its named threads, read from /proc, for the benchmarks' shares.
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# The ticks of the process's threads named $2 (Wine names them as the program does).
thread_ticks() {
    for task in /proc/"$1"/task/*; do
        [ "$(cat "$task/comm" 2>/dev/null)" = "$2" ] && awk '{print $14 + $15}' "$task/stat"
    done | awk '{s += $1} END {print s + 0}'
}
now() { date +%s.%N; }
