# Sourced by the cluster benchmarks: a Dask scheduler on 127.0.0.1 in $work, and
# `worker N`, which starts one more single-thread worker and waits until N are
# connected. Needs $work, $py and the array pids (stopped by the caller's cleanup).
port=$($py -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
address=tcp://127.0.0.1:$port
(cd "$work" && exec /usr/bin/dask-scheduler --host 127.0.0.1 --port "$port" --dashboard-address :0 >scheduler.log 2>&1) &
pids+=($!)
worker() {
  (cd "$work" && exec /usr/bin/dask-worker "$address" --nthreads 1 --host 127.0.0.1 --dashboard-address :0 \
    --local-directory "$work" >>workers.log 2>&1) &
  pids+=($!)
  $py -c "from dask.distributed import Client; Client('$address', timeout=30).wait_for_workers($1, timeout=60)"
}
