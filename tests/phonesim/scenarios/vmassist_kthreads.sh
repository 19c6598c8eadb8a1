# vmassist's kernel-thread controls: find kswapd0 and kcompactd0, pin a task to CPUs.
ls -l /proc/kswapd_pid /proc/kcompactd_pid /proc/kdamond_cpuset
cat /proc/kswapd_pid
echo
cat /proc/kcompactd_pid
echo
cat /proc/kdamond_cpuset
# kswapd0 (pid 61 on this phone) onto the big cores.
echo '4,5,6,7;61' > /proc/kdamond_cpuset
cat /proc/kdamond_cpuset
# Refused: no pid, a negative CPU, a CPU the phone does not have, a pid of no task.
echo 4,5 > /proc/kdamond_cpuset
echo '4,-1;812' > /proc/kdamond_cpuset
echo '9;61' > /proc/kdamond_cpuset
echo '1;99999' > /proc/kdamond_cpuset
cat /proc/kdamond_cpuset
echo 1 > /proc/kcompactd_pid
