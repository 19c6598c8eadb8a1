/* The compiled default device tree, embedded in phonesim. */
	.section .rodata
	.global phonesim_default_dtb_start
	.global phonesim_default_dtb_end
	.balign 8
phonesim_default_dtb_start:
	.incbin PHONESIM_DEFAULT_DTB
phonesim_default_dtb_end:
	.section .note.GNU-stack,"",%progbits
