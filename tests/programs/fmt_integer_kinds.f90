! I, B, O and Z editing of every integer kind, negative values included.
program fmt_integer_kinds
  implicit none
  integer(1) :: a = -127_1
  integer(2) :: b = -32767_2
  integer(4) :: c = -2147483647
  integer(8) :: d = -9223372036854775807_8
  write (*, '(i5, i7, i12, i21)') a, b, c, d
  write (*, '(z3, 1x, z5, 1x, z9, 1x, z17)') 127_1, 32767_2, 2147483647, huge(d)
  write (*, '(o4, 1x, b9)') 64_1, 100_2
end program fmt_integer_kinds
