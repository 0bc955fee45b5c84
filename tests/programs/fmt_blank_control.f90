! BN and BZ and the BLANK= specifier on numeric input.
program fmt_blank_control
  implicit none
  integer :: a, b
  real :: x
  character(len=10) :: buf = ' 1 2 3.5  '
  read (buf, '(bn, i4)') a
  read (buf, '(bz, i4)') b
  write (*, '(2i6)') a, b
  read (buf, '(f10.0)', blank='zero') x
  write (*, '(f12.3)') x
end program fmt_blank_control
