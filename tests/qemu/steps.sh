# Shared by the scenarios inside the test VM (busybox sh): each step prints
# its output between "@@BEGIN name" and "@@END name STATUS".
G=/bin/gleanor

step() {
    name=$1
    shift
    echo "@@BEGIN $name"
    "$@" </dev/null 2>&1
    echo "@@END $name $?"
}
