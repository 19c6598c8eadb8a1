# add_kernel_module(): builds a loadable module as the loader expects it.
