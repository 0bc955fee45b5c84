! Named constants, initialisers and the kinds of each type.
program parameters_kinds
  implicit none
  integer, parameter :: n = 4, m = n * 2 + 1
  integer(2), parameter :: h = -300
  real(8), parameter :: pi = 3.14159265358979d0
  logical, parameter :: yes = .true.
  integer :: a(m) = 3
  integer(8) :: big = 2_8**40
  real(16) :: q
  character(len=n) :: c = 'abcdefg'
  if (size(a) /= 9 .or. sum(a) /= 27) stop 1
  if (h * 2 /= -600) stop 2
  if (abs(pi - 3.14159265358979d0) > 0) stop 3
  if (.not. yes) stop 4
  if (big /= 1099511627776_8) stop 5
  if (c /= 'abcd') stop 6
  q = 1.0_16 / 3
  if (q == 1.0d0 / 3) stop 7
  if (kind(q) /= 16 .or. kind(big) /= 8 .or. kind(h) /= 2) stop 8
  stop 0
end program parameters_kinds
