# Sourced by the native tool tests of this folder: a fresh work folder with a token emulator of its
# own (its state in the folder, stopped when the sourcing script exits) that native programs reach
# through UK_VIRTUAL_TOKEN, and a lock folder of its own (UK_LOCK_DIR). Leaves the shell in the
# work folder, with the emulator's port in the file "port".
#   . emulator_session.sh TOKENSIM WORK_DIR
uk_sim=$1 uk_work=$2
rm -rf "$uk_work"
mkdir -p "$uk_work/state" "$uk_work/locks"
cd "$uk_work" || exit 1
"$uk_sim" serve --state "$uk_work/state" --port 0 --port-file "$uk_work/port" >serve.log 2>&1 &
uk_simpid=$!
trap 'kill $uk_simpid 2>/dev/null; wait $uk_simpid 2>/dev/null' EXIT
for _ in $(seq 100); do
  [ -s port ] && break
  sleep 0.1
done
[ -s port ] || { echo "the emulator did not start"; cat serve.log; exit 1; }
export UK_VIRTUAL_TOKEN=127.0.0.1:$(cat port) UK_LOCK_DIR=$uk_work/locks
