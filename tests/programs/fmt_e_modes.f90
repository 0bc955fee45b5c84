! E, ES, EN and D editing with exponent widths and scale factors.
program fmt_e_modes
  implicit none
  real :: x = 0.000314159
  real(8) :: d = 6.02214076d23
  write (*, '(e12.4, e12.4e1, e14.4e4)') x, x, x
  write (*, '(es12.4, en12.4, d14.5)') x, x, d
  write (*, '(3p, e14.4, -2p, e14.4)') d, d
  write (*, '(es12.3e3, en15.3)') d, d
  write (*, '(e10.3)') 1.0e-5
  write (*, '(ru, e12.4, rd, e12.4)') 1.23456, 1.23456
end program fmt_e_modes
