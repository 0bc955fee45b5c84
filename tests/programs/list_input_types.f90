! List-directed input of logicals, complex values, reals in every form and
! integers of several kinds.
program list_input_types
  implicit none
  logical :: p, q, r
  complex :: c
  complex(8) :: z
  real :: x, y
  real(8) :: d
  integer(1) :: i1
  integer(8) :: i8
  character(len=100) :: line
  line = '.TRUE. f .tx ( 1.5 , -2.5 ) (3e0,4d0) 1e3 -.5 2.5d-3 -12 9000000000'
  read (line, *) p, q, r, c, z, x, y, d, i1, i8
  write (*, '(3l2)') p, q, r
  write (*, '(2f8.3, 2f8.3)') c, z
  write (*, '(2f10.3, es12.4)') x, y, d
  write (*, '(i5, i12)') i1, i8
end program list_input_types
