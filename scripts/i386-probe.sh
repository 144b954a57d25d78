#!/usr/bin/env bash
# Whether this kernel runs i386 programs: a static i386 program of 96 bytes
# (ELF header, one program header, then exit(42) through int 0x80) must run
# and exit with 42. getconf and the like describe user space, not the kernel.
# Exit status 0 when it runs; otherwise 1 and a line saying why.
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
{
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000'
  printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010'
  printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000'
  printf '\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200'
} > "$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
code=$?
[ "$code" -eq 42 ] && exit 0
echo "the kernel cannot execute i386 programs (probe exit status $code, 42 expected)"
exit 1
