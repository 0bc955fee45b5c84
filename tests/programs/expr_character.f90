! CHARACTER values: blank padding on assignment and comparison,
! concatenation, substrings and the character intrinsics.
program expr_character
  implicit none
  character(len=8) :: a
  character(len=3) :: b
  character(len=*), parameter :: p = 'fortran'
  a = 'abc'
  if (a /= 'abc     ') stop 1
  if (a /= 'abc') stop 2
  b = 'abcdef'
  if (b /= 'abc') stop 3
  if (len(a) /= 8 .or. len_trim(a) /= 3 .or. len(p) /= 7) stop 4
  if (trim(a) // '!' /= 'abc!') stop 5
  if (adjustr(a) /= '     abc') stop 6
  if (adjustl('  xy  ') /= 'xy    ') stop 7
  if (index(p, 'tr') /= 4 .or. index(p, 'z') /= 0 .or. index('abab', 'ab', back=.true.) /= 3) stop 8
  if (p(2:4) /= 'ort' .or. p(5:) /= 'ran' .or. p(:1) /= 'f') stop 9
  a(2:3) = 'XY'
  if (a /= 'aXY') stop 10
  if (.not. ('abc' < 'abd') .or. 'b' < 'a') stop 11
  if (ichar('A') /= 65 .or. char(66) /= 'B') stop 12
  if (repeat('ab', 3) /= 'ababab') stop 13
  if (len(a(3:2)) /= 0) stop 14
  stop 0
end program expr_character
