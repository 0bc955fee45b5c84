! Format reversion to the last top-level parenthesised group, with a
! repeat count, and the end of the format at a colon.
program fmt_reversion_nested
  implicit none
  integer :: a(10), i
  a = [(i * i, i = 1, 10)]
  write (*, '("head", 2(1x, i3))') a
  write (*, '(i2, 2(":", i3, "/"))') a
  write (*, '(3(i4, :, ","))') a(1:5)
  write (*, '(a, (2i4))') 'x', a(1:6)
end program fmt_reversion_nested
