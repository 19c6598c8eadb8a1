# Loading and unloading modules from the shell, with fault injection and tasks of other names.
insmod modtest
insmod modtest_user
rmmod modtest
echo "status $?"
rmmod modtest_user modtest
insmod modtest_prop
echo "status $?"
# An allocation that fails in the module's init makes insmod fail and leaves nothing behind.
fault kmalloc next 1 module modtest
fault
insmod modtest
echo "status $?"
ls /sys/module | grep modtest
echo "status $?"
fault clear
# The module's directory holds what its init hung under THIS_MODULE.
insmod modtest
ls -l /sys/module/modtest
rmmod modtest
# A command as another task: an app's uid may not write where root may.
sleep 1.5
ls -l /dev/memcg/memory.swappiness
as -u 10123 com.example.app echo 10 > /dev/memcg/memory.swappiness
echo 10 > /dev/memcg/memory.swappiness
cat /dev/memcg/memory.swappiness
as com.example.app cat /dev/memcg/memory.swappiness
dmesg
