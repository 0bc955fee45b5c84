! Integer arithmetic in every kind: truncating division, MOD and MODULO
! signs, powers, MIN/MAX, ABS and conversions; each check ends the program
! with its own code when it fails.
program expr_integer
  implicit none
  integer(1) :: b
  integer(2) :: h
  integer :: i, j
  integer(8) :: k
  i = -7
  j = 2
  if (i / j /= -3) stop 1
  if (mod(i, j) /= -1) stop 2
  if (modulo(i, j) /= 1) stop 3
  if (mod(7, -2) /= 1 .or. modulo(7, -2) /= -1) stop 4
  if (2**10 /= 1024 .or. (-2)**3 /= -8 .or. 2**0 /= 1) stop 5
  if (2**(-1) /= 0 .or. 1**(-5) /= 1 .or. (-1)**(-3) /= -1) stop 6
  if (min(3, -4, 9) /= -4 .or. max(3, -4, 9) /= 9) stop 7
  if (abs(i) /= 7) stop 8
  k = huge(i)
  k = k + 1
  if (k /= 2147483648_8) stop 9
  b = 100
  h = b * 3
  if (h /= 300) stop 10
  if (huge(b) /= 127 .or. huge(h) /= 32767) stop 11
  if (int(-3.9) /= -3 .or. nint(-3.5) /= -4 .or. nint(2.5) /= 3) stop 12
  if (1 + 2 * 3 - 4 / 2 ** 2 /= 6) stop 13
  if (-2**2 /= -4) stop 14
  k = 3000000000_8 * 3
  if (k /= 9000000000_8) stop 15
  if (int(7.99d0, 8) /= 7_8) stop 16
  if (floor(-2.5) /= -3 .or. ceiling(-2.5) /= -2) stop 17
  if (sign(5, -3) /= -5 .or. sign(-5, 3) /= 5) stop 18
  stop 0
end program expr_integer
