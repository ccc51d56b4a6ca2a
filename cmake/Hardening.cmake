# The Windows programs run with administrator rights: a stack smash ends them instead of running
# planted code, and the C library's fortified calls check their buffer sizes. Include before any
# target is created.
if(MINGW)
  add_compile_options(-fstack-protector-strong)
  # The fortified calls need optimisation to know the sizes; a Debug build goes without them.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  # The stack protector's runtime (libssp) comes in statically with -static; the loader may place
  # the image anywhere in the 64-bit address space and never runs its data. Said here, not left
  # to the linker's defaults.
  add_link_options(-fstack-protector-strong LINKER:--dynamicbase LINKER:--high-entropy-va
                   LINKER:--nxcompat)
endif()
