# What the end-to-end scripts read of the viewer's debug output, sourced by
# their scripts under the X server: $work/debug.log is the log and $pid the
# viewer.
shows() { grep -c "^Show Image" "$work/debug.log" || true; }
wait_for_shows() {  # wait_for_shows N: until N pages or spreads were shown (20 s)
  for _ in $(seq 200); do
    [ "$(shows)" -ge "$1" ] && return 0
    kill -0 "$pid" 2>/dev/null || { echo "velmora ended early"; cat "$work/debug.log"; return 1; }
    sleep 0.1
  done
  echo "timed out waiting for $1 shown pages"; cat "$work/debug.log"; return 1
}
# The index of the first page of the last "Show Image" group.
last_index() { grep -A1 "^Show Image" "$work/debug.log" | grep "Index" | tail -n 1; }
expect_index() {  # expect_index WHAT N: the last group shows page N first
  [[ "$(last_index)" == *"[$2/"* ]] || { echo "$1: $(last_index)"; cat "$work/debug.log"; exit 1; }
}
