! OPEN and CLOSE with IOSTAT=: STATUS= NEW, OLD, REPLACE, SCRATCH and
! UNKNOWN, CLOSE with STATUS='DELETE' and 'KEEP'; only success (0) or
! failure (non-zero) is compared, the numbers being processor dependent.
program open_close_status
  implicit none
  integer :: ios, u
  open (10, file='kept.txt', status='new', iostat=ios)
  if (ios /= 0) stop 1
  close (10, status='keep')
  open (10, file='kept.txt', status='new', iostat=ios)
  if (ios == 0) stop 2
  open (10, file='kept.txt', status='old', iostat=ios)
  if (ios /= 0) stop 3
  close (10)
  open (11, file='gone.txt', status='replace', iostat=ios)
  if (ios /= 0) stop 4
  close (11, status='delete', iostat=ios)
  if (ios /= 0) stop 5
  open (11, file='gone.txt', status='old', iostat=ios)
  if (ios == 0) stop 6
  open (12, status='scratch', iostat=ios)
  if (ios /= 0) stop 7
  close (12)
  open (newunit=u, file='new.txt', status='unknown', iostat=ios)
  if (ios /= 0 .or. u >= 0) stop 8
  close (u)
  open (13, file='missing/dir/x.txt', iostat=ios)
  if (ios == 0) stop 9
  stop 0
end program open_close_status
