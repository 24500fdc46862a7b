/* The layout of setup.exe, 32- and 64-bit alike.

   The resources (the payload) must start on a page of the file for the
   loader to map them instead of reading them, so everything in front of
   them is paid for in whole pages. Each section in front costs a header and
   the rest of its last 512-byte block: so the code, its constants and the
   import tables share one section, read-only and executable, as compilers
   of other systems lay them out. The constants can be executed there, but
   nothing in that section can be written, and the writable data stay apart
   and not executable. The loader makes the import address table writable
   itself while it fills it in: the IAT directory tells it where.

   The linker finds the import directory through the symbols .idata$2 and
   .idata$4, and the import address table through .idata$5 and .idata$6,
   as offsets from the image base; the default layout finds them by the
   name of an .idata section, which this one does not have. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(EXCLUDE_FILE (*:browse.cpp.obj *:word_sum.cpp.obj) .text)
    *(EXCLUDE_FILE (*:browse.cpp.obj *:word_sum.cpp.obj) .text$*)
    *(.text.*)
    *(EXCLUDE_FILE (*:browse.cpp.obj *:word_sum.cpp.obj) .rdata)
    *(EXCLUDE_FILE (*:browse.cpp.obj *:word_sum.cpp.obj) .rdata$*)
    *(.xdata*)
    ".idata$2" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    /* The end of the import descriptors. */
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    /* No import lookup tables: a descriptor without one has the loader
       read the names through the import address table itself, which holds
       the same entries until it is filled in. */
    ".idata$4" = ABSOLUTE(.) - __image_base__;
    __IAT_start__ = .;
    ".idata$5" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    ".idata$6" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(EXCLUDE_FILE (*libuser32.a:*) *)(.idata$6))
    /* Each DLL's name, from its import library's tail member; the other
       members' entries here only pull the library's head into the link. */
    KEEP (SORT(EXCLUDE_FILE (*libuser32.a:*) *:*t.o)(.idata$7))
  }
  /* The 64-bit build's function table, which the exception directory
     names by its section. */
  .pdata BLOCK(__section_alignment__) :
  {
    KEEP (*(.pdata*))
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data)
    *(SORT(.data$*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) :
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
    /* The names of USER32's imports and USER32's own name, in the room the
       resources leave in their last 512-byte block: read-only data that
       the loader reads once, as it reads the resources, wherever they lie. */
    KEEP (*libuser32.a:*(.idata$6))
    KEEP (*libuser32.a:*t.o(.idata$7))
  }
  /* Code that most runs never call or call once: the loops of the check
     of the setup's own file, the folder picker, and what the code marks
     LATE_CODE (the pages' checks and the outcome of the installation;
     other links put those in a section of their own). Behind the resources,
     in the room the file's last 512-byte block leaves, it costs no page in
     front of them. */
  .late BLOCK(__section_alignment__) :
  {
    *:browse.cpp.obj(.text .text$* .rdata .rdata$*)
    *:word_sum.cpp.obj(.text .text$* .rdata .rdata$*)
    *(.late$*)
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /DISCARD/ :
  {
    *(.idata$7)
    *(.idata$4)
    *(.eh_frame*)
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
  }
}
