! Format reversion: a list longer than the format starts new records at
! the last parenthesised group.
program fmt_reversion
  implicit none
  integer :: i
  write (*, '(i3, 2(1x, i2))') (i, i = 1, 10)
  write (*, '("x=", i4)') 1, 2, 3
  write (*, '(3i3)')
end program fmt_reversion
