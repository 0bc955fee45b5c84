! List-directed output read back list-directed gives the same values, as
! far as the digits written carry them: how many is processor dependent.
! processor-dependent: line 1
program roundtrip_list
  implicit none
  integer :: i, j
  real :: x, y
  real(8) :: d, e
  logical :: p, q
  complex :: c, z
  character(len=80) :: buf
  i = -123456; x = 0.1; d = 1.0d0 / 3.0d0; p = .true.; c = (1.5, -0.25)
  write (buf, *) i, x, d
  read (buf, *) j, y, e
  write (*, '(3l2)') i == j, x == y, d == e
  write (buf, *) p, c
  read (buf, *) q, z
  write (*, '(2l2)') p .eqv. q, c == z
end program roundtrip_list
