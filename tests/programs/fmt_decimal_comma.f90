! DECIMAL='comma' in the format (DC) and as a specifier, on output and
! input.
program fmt_decimal_comma
  implicit none
  real :: x
  character(len=20) :: buf
  write (*, '(dc, f8.3, dp, f8.3)') 3.25, 3.25
  write (*, '(f8.3)', decimal='comma') -1.5
  buf = '  2,75'
  read (buf, '(dc, f6.2)') x
  write (*, '(f8.3)') x
  read (buf, '(f6.2)', decimal='comma') x
  write (*, '(es12.4)') x
end program fmt_decimal_comma
