/* Section layout of an installer executable (cmake/installer.cmake).
   Every section's data is padded to the 512-byte file alignment, so the
   image has as few sections as the loader's protections allow: whatever
   is only read (code, constants, import tables, resources), writable data
   if any, zero-filled data, base relocations. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  /* All that is not written once loaded shares the code's read-only
     pages instead of padding sections of its own to 512 bytes: constants,
     the import tables, the resources. The loader makes the import address
     table writable while it binds it, found through the IAT directory (as
     MSVC's, in .rdata). ld sets the import and resource directories only
     for sections named .idata and .rsrc: scripts/compact-pe sets them from
     the markers below, which the link map lists. */
  .text __image_base__ + __section_alignment__ :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
    *(.rdata) *(SORT(.rdata$*))
    KEEP (SORT(*)(.idata$6))
    /* The DLL names, in each import library's last member. */
    KEEP (*:*t.o(.idata$7))
    __import_directory_start__ = .;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The import list's terminator. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    __import_directory_end__ = .;
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    __resource_directory_start__ = .;
    KEEP (*(.rsrc)) KEEP (*(.rsrc$*))
    __resource_directory_end__ = .;
  }
  /* Initialised variables would cost a 512-byte block: there are none, and
     the linker leaves the empty section out. */
  .data BLOCK(__section_alignment__) :
  {
    *(.data) *(SORT(.data$*))
  }
  /* Last of the program's memory and apart, so that it takes no room in
     the file. */
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss) *(SORT(.bss$*)) *(COMMON)
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /* Unwind tables serve exceptions and debuggers only: nothing in the
     image registers them. Each imported routine's .idata$7 only makes the
     linker take its library's first member (4 bytes each). The import
     lookup tables (.idata$4) repeat what the import address table holds
     until it is bound, each routine's name: without them each import
     descriptor's OriginalFirstThunk links as 0, and Windows' and Wine's
     loaders then read the names from the import address table itself
     (4 bytes less per routine and per DLL). The rest is for the linker
     alone. */
  /DISCARD/ :
  {
    *(.eh_frame*) *(.idata$4) *(.idata$7) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*)
    *(.debug*)
  }
}
