! Formatted direct access: records written out of order, read by number.
program direct_formatted
  implicit none
  integer :: i, k
  open (60, file='d.txt', access='direct', form='formatted', recl=6, status='replace')
  do i = 3, 1, -1
    write (60, '(i6)', rec=i) i * 100
  end do
  read (60, '(i6)', rec=2) k
  write (*, '(i6)') k
  close (60)
end program direct_formatted
