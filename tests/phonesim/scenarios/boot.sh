# The default phone after boot: its tasks, its modules and the two trees (lsmod is left out:
# module sizes differ between the plain and the sanitizer builds).
ps
ls /proc
ls /sys
ls /sys/module
