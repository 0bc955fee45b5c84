! NEWUNIT= gives negative unit numbers, distinct while both are open.
program newunit_files
  implicit none
  integer :: u, v, k
  open (newunit=u, file='a.txt', status='replace')
  open (newunit=v, file='b.txt', status='replace')
  write (*, '(3l2)') u < 0, v < 0, u /= v
  write (u, '(a)') 'in a'
  write (v, '(i4)') 77
  close (v)
  rewind (u)
  close (u)
  open (newunit=v, file='b.txt', status='old')
  read (v, *) k
  write (*, '(i4)') k
  close (v)
end program newunit_files
