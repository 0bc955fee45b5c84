! Real editing: F, E, ES, EN, D and G, with scale factors and rounding.
! A negative value that rounds to zero keeps its minus sign (line 6).
program fmt_real
  implicit none
  real :: x = 1234.5678
  real(8) :: d = -0.000123456789d0
  write (*, '(f12.4, f8.1, f6.0)') x, x, 2.5
  write (*, '(e14.5, es14.5, en14.5)') x, x, x
  write (*, '(d20.10)') d
  write (*, '(g14.6, g14.6, g14.6)') x, d, 0.5
  write (*, '(1p, e14.5, 0p, f10.3)') x, x
  write (*, '(f10.3)') -0.0004
  write (*, '(e12.4e3)') 1.0e-30
  write (*, '(3f7.2)') 1.005, 2.675, -3.14159
end program fmt_real
