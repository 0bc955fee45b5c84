! END= taken in the middle of an implied DO: the items read before the end
! of file keep their values.
program end_in_implied_do
  implicit none
  integer :: a(6), i, n
  open (56, file='p.txt', status='replace')
  write (56, '(i3)') 11, 22, 33
  rewind (56)
  a = 0
  n = 0
  read (56, '(i3)', end=10) (a(i), i = 1, 6)
  n = 1
10 write (*, '(6i4, i3)') a(1:3), n
  close (56, status='delete')
end program end_in_implied_do
