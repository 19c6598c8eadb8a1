# phonesim-args: --dtb devicetree_nocpus.dtb
# A tree without /cpus does not boot: phonesim says why and exits with status 1.
echo "not reached"
