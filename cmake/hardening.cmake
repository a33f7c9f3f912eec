# Hardened PE: ASLR with high-entropy addresses, NX, stack protector, and
# fortified libc calls in optimised builds. Everything is linked statically
# (libgcc, libstdc++, winpthread, libssp), so that the module imports only
# Windows system DLLs.
add_compile_options(-fstack-protector-strong)
add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
add_link_options(-static -Wl,--dynamicbase -Wl,--nxcompat -Wl,--high-entropy-va)
link_libraries(ssp)
