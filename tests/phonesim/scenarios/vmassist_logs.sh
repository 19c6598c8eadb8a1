# vmassist's record logs: two rings of timestamped texts and a table of counted exceptions.
ls -l /proc/perflock_records /proc/zomdlog /proc/perflock_exception
cat /proc/perflock_records
echo hello > /proc/perflock_records
as zomd@2.0-servic echo 'boost cpu 3' > /proc/perflock_records
echo -n 'kill 1234' > /proc/zomdlog
cat /proc/perflock_records
cat /proc/zomdlog
sleep 61
echo -n 'lmk timeout' > /proc/perflock_exception
echo -n 'lmk timeout' > /proc/perflock_exception
echo -n 'binder stuck' > /proc/perflock_exception
echo -n 'lmk timeout' > /proc/perflock_exception
echo 'lmk timeout' > /proc/perflock_exception
cat /proc/perflock_exception
echo 0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789 > /proc/zomdlog
cat /proc/zomdlog
