// The kernel alone as a shared object: the exports come from the kernel library, linked whole.
