! A failed OPEN names the file it could not open in IOMSG=, whatever the
! reason. The words are the library's own; the name is cut to its last
! part here (the rest is the run's working directory).
! processor-dependent: line 1, line 2, line 3
program open_failure_names_file
  implicit none
  character(len=200) :: msg
  integer :: ios, at, slash
  open (53, file='nothere.txt', status='old', iostat=ios, iomsg=msg)
  at = index(msg, ', file ')
  slash = index(msg, '/', back=.true.)
  write (*, '(a, a)') msg(1:at + 6), trim(msg(slash + 1:))
  open (54, file='nodir/out.txt', status='new', iostat=ios, iomsg=msg)
  at = index(msg, ', file ')
  slash = index(msg, '/', back=.true.)
  write (*, '(a, a)') msg(1:at + 6), trim(msg(slash + 1:))
  open (55, file='made.txt', status='new')
  close (55)
  open (56, file='made.txt', status='new', iostat=ios, iomsg=msg)
  at = index(msg, ', file ')
  slash = index(msg, '/', back=.true.)
  write (*, '(a, a)') msg(1:at + 6), trim(msg(slash + 1:))
  open (57, file='made.txt', status='old')
  close (57, status='delete')
end program open_failure_names_file
