/* Section layout of an installer executable (cmake/installer.cmake).
   Every section's data is padded to the 512-byte file alignment, so the
   image has only the sections the loader needs: code and constants,
   writable data, zero-filled data, resources, base relocations. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  /* What is never written shares the code's pages: constants, and the
     import lookup table and names the loader only reads. */
  .text __image_base__ + __section_alignment__ :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
    *(.rdata) *(SORT(.rdata$*))
    KEEP (SORT(*)(.idata$4))
    KEEP (SORT(*)(.idata$6))
    /* The DLL names, in each import library's last member. */
    KEEP (*:*t.o(.idata$7))
  }
  /* ld finds the import directory by this section's name, at its start.
     The import address table, which the loader writes, and the program's
     own initialised variables complete it. */
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The import list's terminator. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    *(.data) *(SORT(.data$*))
  }
  /* Last of the program's memory and apart, so that it takes no room in
     the file. */
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss) *(SORT(.bss$*)) *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc)) KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /* Unwind tables serve exceptions and debuggers only: nothing in the
     image registers them. Each imported routine's .idata$7 only makes the
     linker take its library's first member (4 bytes each). The rest is for
     the linker alone. */
  /DISCARD/ :
  {
    *(.eh_frame*) *(.idata$7) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*) *(.debug*)
  }
}
