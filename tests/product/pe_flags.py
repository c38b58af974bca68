#!/usr/bin/python3
"""Reads what a binary analyser reads of a Windows executable's hardening, with Debian's
python3-pefile rather than a parser of ours, and prints one "name value" line each:

  dynamic_base     yes|no  address-space randomisation asked for (DYNAMIC_BASE)
  relocations      yes|no  and possible: a base relocation table, not stripped
  nx_compat        yes|no  no-execute data (NX_COMPAT)
  high_entropy_va  yes|no  randomised above 4 GB (HIGH_ENTROPY_VA, 64-bit only)
  tsaware          yes|no  TERMINAL_SERVER_AWARE
  safe_seh         no-seh|table|none  a 32-bit image's exception handlers: none registered
                   (NO_SEH), a table of the safe ones in the load configuration, or neither
  wx_sections      none|NAMES  sections both writable and executable

usage: pe_flags.py EXE
"""
import sys

import pefile

YES, NO = "yes", "no"


def flag(value, mask):
    return YES if value & mask else NO


def safe_seh(pe):
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    if characteristics & pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NO_SEH"]:
        return "no-seh"
    load_config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    if load_config is not None and getattr(load_config.struct, "SEHandlerCount", 0):
        return "table"
    return "none"


def relocations(pe):
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    stripped = pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS[
        "IMAGE_FILE_RELOCS_STRIPPED"]
    return YES if directory.Size and not stripped else NO


def wx_sections(pe):
    both = (pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_WRITE"] |
            pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"])
    names = [section.Name.rstrip(b"\0").decode("ascii", "replace")
             for section in pe.sections if section.Characteristics & both == both]
    return " ".join(names) or "none"


def main():
    with pefile.PE(sys.argv[1]) as pe:
        characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
        mask = pefile.DLL_CHARACTERISTICS
        print("dynamic_base", flag(characteristics, mask["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]))
        print("relocations", relocations(pe))
        print("nx_compat", flag(characteristics, mask["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]))
        print("high_entropy_va",
              flag(characteristics, mask["IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA"]))
        print("tsaware",
              flag(characteristics, mask["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"]))
        print("safe_seh", safe_seh(pe))
        print("wx_sections", wx_sections(pe))


if __name__ == "__main__":
    main()
