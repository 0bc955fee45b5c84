! F editing with sign control, scale factors and the rounding modes.
program fmt_f_modes
  implicit none
  real(8) :: x = 2.345d0, y = -2.355d0
  write (*, '(f8.2, f8.2)') x, y
  write (*, '(ru, f8.2, f8.2)') x, y
  write (*, '(rd, f8.2, f8.2)') x, y
  write (*, '(rz, f8.2, f8.2)') x, y
  write (*, '(rn, f8.2, f8.2)') 0.125d0, 0.375d0
  write (*, '(rc, f8.2, f8.2)') 0.125d0, -0.375d0
  write (*, '(sp, f8.3, ss, f8.3)') x, x
  write (*, '(2p, f10.3, -1p, f10.3)') x, x
  write (*, '(f0.3, 1x, f0.0)') x, 12.5d0
end program fmt_f_modes
