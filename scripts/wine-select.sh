# Which Wine runs a Windows program, and whether this machine runs 32-bit processes at all.
# Sourced by wine-exec and env.sh (POSIX sh); defines functions and runs nothing.
#
# Debian's wine and wineserver wrappers choose a loader and a server by what is installed,
# not by the program: with wine32 installed, a 64-bit program would start in the 32-bit
# loader. So each kind of program gets its own loader, server and prefix kind, set here.

# The kind of a Windows program, win32 or win64, from the machine field of its PE header.
qm_pe_kind() {  # FILE
  qm_pe_at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  case $(od -An -tx2 -j$((${qm_pe_at:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ') in
    8664) echo win64 ;;
    014c) echo win32 ;;
    *) echo unknown ;;
  esac
}

# Sets the Wine of one kind of program for everything started after it.
qm_wine_use() {  # win32 | win64
  case $1 in
    win32)
      WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32 WINEARCH=win32 ;;
    win64)
      WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 WINEARCH=win64 ;;
    *) echo "no Wine for programs of kind '$1'" >&2; return 1 ;;
  esac
  export WINELOADER WINESERVER WINEARCH
}

# True when the kernel starts 32-bit x86 programs. Some machines have that emulation turned
# off, and there no 32-bit Wine can start. The probe is the smallest static i386 program:
# an ELF header, one loadable segment and exit(0) through int 0x80.
qm_runs_32bit() {
  qm_probe=$(mktemp "${TMPDIR:-/tmp}/qm-i386.XXXXXX") || return 1
  {
    # ELF identity: 32-bit, little-endian, version 1.
    printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
    # Executable, i386, version 1, entry 0x08048054, program headers at 52, none of sections,
    # flags 0, header 52 bytes, one program header of 32 bytes.
    printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000'
    printf '\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
    # The segment: loadable, the whole 96-byte file at 0x08048000, read and execute.
    printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
    printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
    # mov ebx, 0; mov eax, 1 (exit); int 0x80
    printf '\273\000\000\000\000\270\001\000\000\000\315\200'
  } >"$qm_probe"
  chmod +x "$qm_probe"
  "$qm_probe" 2>/dev/null
  qm_probe_status=$?
  rm -f "$qm_probe"
  return $qm_probe_status
}
