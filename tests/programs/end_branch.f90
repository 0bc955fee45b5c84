! END= branches at end of file; the lines read before are kept.
program end_branch
  implicit none
  integer :: k, total
  open (42, file='n.txt', status='replace')
  write (42, '(i4)') 10, 20, 30
  rewind (42)
  total = 0
  do
    read (42, '(i4)', end=100) k
    total = total + k
  end do
100 write (*, '(a, i5)') 'total', total
  close (42, status='delete')
end program end_branch
