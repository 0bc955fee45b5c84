! Direct access errors: a record beyond the end of the file, REC=0 and a
! record the format overflows; the IOSTAT values differ between processors,
! so only whether they are zero is printed.
program direct_iostat
  implicit none
  integer :: ios, v
  character(len=10) :: s
  open (22, file='e.bin', access='direct', form='unformatted', recl=4, status='replace')
  write (22, rec=2) 5
  read (22, rec=2, iostat=ios) v
  print *, ios == 0, v
  read (22, rec=3, iostat=ios) v
  print *, ios /= 0
  read (22, rec=30, iostat=ios) v
  print *, ios /= 0
  write (22, rec=0, iostat=ios) 1
  print *, ios /= 0
  close (22)
  ! What an overflowing record leaves in the file is the processor's.
  open (24, file='o.bin', access='direct', form='unformatted', recl=4, status='replace')
  write (24, rec=1, iostat=ios) 1, 2
  print *, ios /= 0
  close (24, status='delete')
  open (23, file='e.txt', access='direct', form='formatted', recl=6, status='replace')
  write (23, '(a)', rec=1) 'abc'
  read (23, '(a)', rec=5, iostat=ios) s
  print *, ios /= 0
  write (23, '(a)', rec=2, iostat=ios) 'much too long'
  print *, ios /= 0
  close (23, status='delete')
end program direct_iostat
