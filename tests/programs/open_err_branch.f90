! ERR= on OPEN and CLOSE branches to its label; IOMSG= receives a text.
program open_err_branch
  implicit none
  integer :: ios
  character(len=200) :: msg
  msg = ''
  open (20, file='no/such/dir/f', status='old', err=10, iomsg=msg)
  stop 1
10 if (len_trim(msg) == 0) stop 2
  ios = 0
  open (21, file='x.txt', status='bogus', iostat=ios, iomsg=msg)
  if (ios == 0) stop 3
  open (21, file='x.txt', action='read', status='new', iostat=ios)
  close (21, status='delete', iostat=ios)
  if (ios /= 0) stop 4
  stop 0
end program open_err_branch
