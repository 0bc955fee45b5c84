! Direct-access unformatted records written out of order and read back.
program direct_access
  implicit none
  integer :: i, v
  open (12, file='dir.bin', access='direct', recl=4, form='unformatted', status='replace')
  do i = 5, 1, -1
    write (12, rec=i) i * 100
  end do
  read (12, rec=3) v
  print '(i5)', v
  close (12)
end program direct_access
