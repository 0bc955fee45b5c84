! List-directed records are filled up to the line length and continue on
! the next record. The layout is processor dependent, and so is the number
! of records, so the values go to a file declared as such.
! processor-dependent: file wrap.txt
program list_out_wrap
  implicit none
  integer :: i
  real :: r(6)
  open (10, file='wrap.txt', status='replace')
  write (10, *) (i, i = 1, 10)
  r = 0.5
  write (10, *) r
  close (10)
end program list_out_wrap
