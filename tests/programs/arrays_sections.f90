! Arrays of rank 1 to 3: explicit bounds, sections with strides, elemental
! operations, constructors with implied DO, and overlapping assignment.
program arrays_sections
  implicit none
  integer :: a(10), b(0:4), i, j
  real :: m(3, 4)
  integer :: c(2, 3, 2)
  a = [(i * i, i = 1, 10)]
  if (sum(a) /= 385) stop 1
  if (sum(a(2:10:2)) /= 220) stop 2
  if (sum(a(10:1:-3)) /= 100 + 49 + 16 + 1) stop 3
  b = a(1:5) + 1
  if (b(0) /= 2 .or. b(4) /= 26) stop 4
  a(2:10) = a(1:9)
  if (a(2) /= 1 .or. a(10) /= 81) stop 5
  do j = 1, 4
    do i = 1, 3
      m(i, j) = i + 10 * j
    end do
  end do
  if (sum(m(2, :)) /= 4 * 2 + 100) stop 6
  if (sum(m(:, 3)) /= 6 + 90) stop 7
  if (size(m) /= 12 .or. size(m, 2) /= 4) stop 8
  if (.not. all(m > 10) .or. any(m > 43)) stop 9
  c = 1
  c(:, 2, :) = 5
  if (sum(c) /= 4 * 2 + 4 * 5) stop 10
  if (lbound(b, 1) /= 0 .or. ubound(b, 1) /= 4) stop 11
  if (maxval(a) /= 81 .or. minval(b) /= 2 .or. product([1, 2, 3, 4]) /= 24) stop 12
  if (count(a > 10) /= 6) stop 13
  stop 0
end program arrays_sections
