#!/bin/sh
# The phone's files through the mount, used by ordinary programs: listings with the kernel's
# modes and owners, reads and writes with its errors, sysfs links, attribute changes where
# kernfs and procfs allow them, memory groups made and removed, and a user that is not root
# refused where the kernel refuses it.
phone_args=--virtual-time
. "$(dirname "$0")/lib.sh"
start_phone
cd "$mnt" || exit 1

check "the trees at the top" "$(ls)" "dev
proc
sys"
check "ls -l of procfs files" \
  "$(ls -l proc/global_reclaim proc/kswapd_pid proc/meminfo | cut -d' ' -f1-5)" \
  "-rw-rw-r-- 1 root root 0
-r--r----- 1 root root 0
-r--r--r-- 1 root root 0"
check "ls -l of sysfs attributes (one page)" \
  "$(ls -l sys/module/vmassist/zomd | cut -d' ' -f1-5)" \
  "total 0
-rw-rw-r-- 1 root root 4096
-rw-rw-r-- 1 root root 4096"
check "a misc device node and its numbers" "$(ls -l dev/zoev | cut -d' ' -f1-6)" \
  "crw-r--r-- 1 root root 10, 63"
check "a sysfs link" "$(readlink sys/class/power_supply/battery)" \
  "../../devices/platform/55.fuel-gauge/power_supply/battery"
check "a file through a sysfs link" "$(cat sys/class/power_supply/battery/capacity)" 50
check "grep over a procfs file" "$(grep -E '^(MemTotal|SwapTotal):' proc/meminfo)" \
  "MemTotal:        8060928 kB
SwapTotal:       4194304 kB"

# One write() is one write of the node; the shell reports the node's error.
sh -c "echo 20000512 > proc/global_reclaim"
check "a request written by sh" "$(cat proc/global_reclaim)" "reclaim 566 pages"
check "bash reports the node's refusal" \
  "$(bash -c 'echo abc > proc/global_reclaim' 2>&1; echo "status $?")" \
  "bash: line 1: echo: write error: Invalid argument
status 1"
check "python3 reads, seeks and writes" "$(python3 - << 'PY'
import os
with open("proc/global_reclaim", "w") as f:
    f.write("30000100")
print(open("proc/global_reclaim").read())
fd = os.open("proc/meminfo", os.O_RDONLY)
first = os.read(fd, 9)
print(first, os.pread(fd, 8, 3))
try:
    os.write(os.open("proc/global_reclaim", os.O_WRONLY), b"abc")
except OSError as e:
    print(e.errno, e.strerror)
PY
)" "reclaim 179 pages
b'MemTotal:' b'Total:  '
22 Invalid argument"

# Attributes: kernfs and procfs keep mode, owner and time; nothing creates or links files.
chmod 600 sys/module/vmassist/zomd/zomdtrigger
chown 1000:1000 proc/global_reclaim
touch -m -d @1000000000 proc/meminfo
check "chmod, chown and touch" "$(ls -ln --time-style=+%s sys/module/vmassist/zomd/zomdtrigger \
  proc/global_reclaim proc/meminfo | awk '{print $1, $3, $4, $6}')" \
  "-rw-rw-r-- 1000 1000 1796716800
-r--r--r-- 0 0 1000000000
-rw------- 0 0 1796716800"
chmod 664 sys/module/vmassist/zomd/zomdtrigger
chown 0:0 proc/global_reclaim
check "an O_TRUNC open of a node" "$(sh -c ': > sys/module/vmassist/zomd/zomdtrigger; echo $?')" 0
check "what these filesystems do not do" "$(
  cat dev/zoev 2>&1
  sh -c 'echo x > proc/nosuch' 2>&1
  mknod dev/foo c 1 1 2>&1
  ln -s meminfo proc/link 2>&1
  rm -f proc/meminfo 2>&1
  mv proc/meminfo proc/x 2>&1
  ls -d proc/x dev/foo 2>&1)" \
  "cat: dev/zoev: Permission denied
sh: 1: cannot create proc/nosuch: Directory nonexistent
mknod: dev/foo: Operation not permitted
ln: failed to create symbolic link 'proc/link': Operation not permitted
rm: cannot remove 'proc/meminfo': Operation not permitted
mv: cannot move 'proc/meminfo' to 'proc/x': Operation not permitted
ls: cannot access 'proc/x': No such file or directory
ls: cannot access 'dev/foo': No such file or directory"

# Memory groups come and go; the kernel's cache of entries follows.
mkdir dev/memcg/demo
check "a new memory group's files" "$(ls dev/memcg/demo | head -n 3)" "cgroup.procs
memory.process_fg
memory.reclaim_once"
rmdir dev/memcg/demo
check "a removed group is gone" "$(ls dev/memcg/demo 2>&1)" \
  "ls: cannot access 'dev/memcg/demo': No such file or directory"
mkdir dev/memcg/demo
check "made again under the same name" "$(ls -d dev/memcg/demo/memory.reclaim_once)" \
  "dev/memcg/demo/memory.reclaim_once"
rmdir dev/memcg/demo

# A user that is not root: served where the modes let it, refused where they do not.
check "nobody's view" "$(setpriv --reuid=65534 --regid=65534 --clear-groups sh -c '
  head -n 1 proc/meminfo
  cat proc/kswapd_pid
  echo 1 > proc/global_reclaim
  chmod 600 sys/module/vmassist/zomd/zomdtrigger
  mkdir dev/memcg/x
  test -r proc/meminfo && echo readable
  test -w proc/global_reclaim || echo "not writable"' 2>&1)" \
  "MemTotal:        8060928 kB
cat: proc/kswapd_pid: Permission denied
sh: 4: cannot create proc/global_reclaim: Permission denied
chmod: changing permissions of 'sys/module/vmassist/zomd/zomdtrigger': Operation not permitted
mkdir: cannot create directory ‘dev/memcg/x’: Permission denied
readable
not writable"

cd / || exit 1
finish
