! T, TL, TR and X on input, and the slash reading the next record.
program fmt_input_positioning
  implicit none
  character(len=10) :: rec(2)
  integer :: a, b, c, d
  rec(1) = '1234567890'
  rec(2) = '9876543210'
  read (rec, '(t3, i2, tl4, i2, tr3, i1, /, x, i3)') a, b, c, d
  write (*, '(4i6)') a, b, c, d
end program fmt_input_positioning
