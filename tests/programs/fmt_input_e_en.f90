! ES, EN and Z/O/B-free real input forms: signs, missing exponents, blanks
! inside the field.
program fmt_input_e_en
  implicit none
  real :: a, b, c, d
  character(len=48) :: line = '  -1.5E+02  3.25e-1   12.5      7  '
  read (line, '(es11.3, en10.2, e11.0, f5.1)') a, b, c, d
  write (*, '(4es13.5)') a, b, c, d
  read (line, '(bz, t21, f11.0)') c
  write (*, '(es13.5)') c
end program fmt_input_e_en
