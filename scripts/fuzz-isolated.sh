# Sourced by the fuzz scripts. The shared-memory fuzzer makes blocks under the
# games' names and stand-in processes under their executable names: as root,
# `isolated CMD...` runs a fuzzer with a /dev/shm and a process list of its
# own, so nothing of it meets a test run; otherwise it runs it as it is.
isolated() {
  if [ "$(id -u)" = 0 ] && unshare --mount --pid --fork --mount-proc --propagation private true 2>/dev/null; then
    unshare --mount --pid --fork --mount-proc --propagation private \
      sh -c 'mount -t tmpfs tmpfs /dev/shm && exec "$@"' sh "$@"
  else
    "$@"
  fi
}
