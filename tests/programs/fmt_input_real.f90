! Real input with F, E, D and G: implied decimal points, exponents in
! every spelling, scale factors on input.
program fmt_input_real
  implicit none
  real :: a, b, c, d
  real(8) :: e
  character(len=50) :: line
  line = '12345 1.5e2 3.25d-1 -4.5+3'
  read (line, '(f5.2, f6.0, f8.0, f7.0)') a, b, c, d
  write (*, '(4es14.6)') a, b, c, d
  read (line, '(2p, f5.2)') a
  write (*, '(es14.6)') a
  line = '  0.1234567890123E+05'
  read (line, '(e22.10)') e
  write (*, '(f20.10)') e
  read (line, '(g22.4)') e
  write (*, '(f20.10)') e
end program fmt_input_real
