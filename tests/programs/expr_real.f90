! Real arithmetic in the precision of each kind, kind promotion of mixed
! operands, and the numeric inquiry functions.
program expr_real
  implicit none
  real :: x, y
  real(8) :: d
  x = 0.1
  d = x
  if (d == 0.1d0) stop 1
  if (d /= real(0.1, 8)) stop 2
  d = 0.1d0
  if (real(d) /= x) stop 3
  x = 1.0 / 3.0
  if (x * 3.0 /= 1.0) stop 4
  y = 16777216.0
  if (y + 1.0 /= y) stop 5
  d = 16777216.0d0
  if (d + 1 == d) stop 6
  if (epsilon(x) /= 2.0**(-23)) stop 7
  if (epsilon(d) /= 2.0d0**(-52)) stop 8
  if (huge(x) <= 3.0e38 .or. tiny(x) >= 1.2e-38) stop 9
  if (abs(-2.5) /= 2.5) stop 10
  if (mod(7.5, 2.0) /= 1.5 .or. mod(-7.5, 2.0) /= -1.5) stop 11
  if (2.0**0.5 /= sqrt(2.0)) stop 12
  if (dble(1.5) /= 1.5d0) stop 13
  if (max(1.0, 2.5, -3.0) /= 2.5 .or. min(1.0d0, -2.0d0) /= -2.0d0) stop 14
  x = 3
  if (x / 2 /= 1.5) stop 15
  if (3 / 2 * 2.0 /= 2.0) stop 16
  if (1.0e-45 * 1.0e-10 /= 0.0) stop 17
  if (2.0**(-2) /= 0.25) stop 18
  stop 0
end program expr_real
