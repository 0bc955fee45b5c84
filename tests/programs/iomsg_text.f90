! IOMSG= receives a message when a statement fails, and is left alone when
! it succeeds.
program iomsg_text
  implicit none
  character(len=80) :: msg
  integer :: ios, k
  character(len=2) :: src = '42'
  msg = 'untouched'
  open (53, file='nothere.txt', status='old', iostat=ios, iomsg=msg)
  write (*, '(l2, l2)') ios > 0, msg /= 'untouched'
  msg = 'untouched'
  read (src, '(i2)', iostat=ios, iomsg=msg) k
  write (*, '(i3, 1x, a)') k, trim(msg)
end program iomsg_text
