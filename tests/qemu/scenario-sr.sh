# The commands run inside the test VM booted without the sg module: the
# drives are reached through their CD block nodes, whose SCSI addresses come
# from sysfs. Opened without O_NONBLOCK such a node would lock the door, and
# the eject would fail.
. /steps.sh

step sr-nodes sh -c 'ls /dev | grep -E "^s[gr][0-9]"'
step sr-drives $G drives
step sr-estimate $G estimate --drive 0
step sr-eject $G eject --drive 0
step sr-load $G load --drive 0
