# Errors read as a device's shell prints them and set $?.
cat /proc/nothing
echo "status $?"
echo hello > /proc/nothing/deeper
echo "status $?"
ls /nowhere
echo "status $?"
mkdir /proc/newdir
echo "status $?"
sleep abc
echo "status $?"
nosuchcommand
echo "status $?"
echo -n 'single quotes keep $? and spaces  ' ; echo "double quotes expand $?"
echo -e 'tab\there\nnew line'
# set -e stops the script at the first failure, with its status.
set -e
cat /proc/nothing
echo "not reached"
