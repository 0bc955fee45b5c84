! INQUIRE (IOLENGTH=): the units are the processor's, so only relations
! between lengths are printed: a list twice as long takes twice the
! length, an array as much as its elements, an implied DO as much as the
! items it stands for.
program inquire_iolength
  implicit none
  integer :: n1, n2, n3, i
  integer :: k(8)
  real(8) :: x(4)
  character(12) :: s
  inquire (iolength=n1) k(1:4)
  inquire (iolength=n2) k
  print *, 'array', n2 == 2 * n1, n1 > 0
  inquire (iolength=n1) x(1), x(2), x(3), x(4)
  inquire (iolength=n2) x
  inquire (iolength=n3) (x(i), i = 1, 4)
  print *, 'items', n1 == n2, n2 == n3
  inquire (iolength=n1) k, x
  inquire (iolength=n2) x, k
  print *, 'order', n1 == n2
  inquire (iolength=n1) s, s
  inquire (iolength=n2) s(1:6), s(7:12), s
  print *, 'text', n1 == n2
  inquire (iolength=n1) x(1:4:2)
  inquire (iolength=n2) x(1), x(3)
  print *, 'section', n1 == n2
end program inquire_iolength
