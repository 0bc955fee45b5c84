! Real editing of every real kind at the edges of their ranges.
program fmt_real_kinds
  implicit none
  real(4) :: a = 1.17549435e-38
  real(8) :: b = 2.2250738585072014d-308
  real(16) :: c = 1.0q0 / 3.0q0
  write (*, '(es16.8e2, es25.16e3)') a, b
  write (*, '(f40.35)') c
  write (*, '(es45.34e4)') c
  write (*, '(es16.8, 1x, es25.16)') huge(a), huge(b)
end program fmt_real_kinds
